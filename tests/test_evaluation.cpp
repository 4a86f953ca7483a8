// Scoring against ground truth: sequences small enough to work out on paper,
// every figure stated here; the refusals; the matching against brute force.
//
// Boxes are 10 x 10 at y = 0, objects 100 apart so that only the intended
// boxes overlap. A tracker box shifted by s in x overlaps its gt box by
// (10 - s) / (10 + s): 1, 9/11, 2/3, 7/13 (>= 0.5) and 6/14 (< 0.5).

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "trackvideo/evaluation/assignment.h"
#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/evaluation/mot_rows.h"
#include "trackvideo/evaluation/score_tables.h"
#include "trackvideo/evaluation/switch_causes.h"

using namespace trackvideo::evaluation;

namespace {

std::string gt(int f, int id, double x, int flag = 1, int cls = 1) {
  return std::to_string(f) + "," + std::to_string(id) + "," + std::to_string(x) + ",0,10,10," +
         std::to_string(flag) + "," + std::to_string(cls) + ",1\n";
}
std::string tr(int f, int id, double x) {
  return std::to_string(f) + "," + std::to_string(id) + "," + std::to_string(x) + ",0,10,10,1\n";
}

// The error of scoring the two texts ("" when none), the result in `out`.
std::string scored(const std::string& g, const std::string& t, int length, sequence_result& out,
                   bool mot20 = false) {
  mot_rows gr, trr;
  std::string why = parse_mot_rows(g, "gt.txt", mot_kind::ground_truth, length, gr);
  if (why.empty()) why = parse_mot_rows(t, "tr.txt", mot_kind::tracker, length, trr);
  evaluation_options options;
  options.mot20 = mot20;
  if (why.empty()) why = evaluate_sequence(gr, trr, length, options, out);
  return why;
}
sequence_result score(const std::string& g, const std::string& t, int length, bool mot20 = false) {
  sequence_result r;
  EXPECT_EQ(scored(g, t, length, r, mot20), "");
  return r;
}

// (frame, type, gt, tracker, previous tracker, previous frame) of each event.
std::vector<std::vector<int>> shapes(const std::vector<identity_event>& events) {
  std::vector<std::vector<int>> out;
  for (const identity_event& e : events)
    out.push_back({e.frame, e.type == event_type::fragment ? 'F' : 'S', e.gt_id, e.tracker_id,
                   e.previous_tracker_id, e.previous_frame});
  return out;
}

constexpr double k911 = 9.0 / 11.0;
// 16 of the 19 values of α are <= 9/11: with every overlap 9/11, a field
// worth v at those and 0 above has mean 16/19 v.
constexpr double kBelow = 16.0 / 19.0;

// gt 1 and 2 tracked by 10 and 20 for two frames, exchanged for three.
std::string swap_gt() {
  std::string s;
  for (int f = 1; f <= 5; ++f) s += gt(f, 1, 0) + gt(f, 2, 100);
  return s;
}
std::string swap_tracker() {
  std::string s;
  for (int f = 1; f <= 5; ++f) s += tr(f, f <= 2 ? 10 : 20, 1) + tr(f, f <= 2 ? 20 : 10, 101);
  return s;
}

}  // namespace

TEST(EvaluationScores, SwapAtAMeeting) {
  const sequence_result r = score(swap_gt(), swap_tracker(), 5);
  const mot_scores& s = r.scores;
  EXPECT_EQ(s.clr_tp, 10);
  EXPECT_EQ(s.clr_fp + s.clr_fn, 0);
  EXPECT_EQ(s.idsw, 2);
  EXPECT_EQ(s.frag, 0);
  EXPECT_EQ(s.mt, 2);
  EXPECT_DOUBLE_EQ(s.mota, 0.8);
  EXPECT_DOUBLE_EQ(s.motp, k911);
  EXPECT_DOUBLE_EQ(s.smota, (10 * k911 - 2) / 10);
  // gt 1 shares 2 frames with 10, 3 with 20; gt 2 the other way round.
  EXPECT_EQ(s.idtp, 6);
  EXPECT_EQ(s.idfn, 4);
  EXPECT_EQ(s.idfp, 4);
  EXPECT_DOUBLE_EQ(s.idf1, 0.6);
  // Per pair, AssA's term is m * m / (5 + 5 - m): 2 * 4/8 + 2 * 9/7 = 25/7 over 10 TPs.
  EXPECT_NEAR(alpha_mean(s.ass_a), kBelow * 5 / 14, 1e-12);
  EXPECT_NEAR(alpha_mean(s.ass_re), kBelow * 0.52, 1e-12);  // (4 + 9) / 5 * 2 over 10
  EXPECT_NEAR(alpha_mean(s.det_a), kBelow, 1e-12);
  EXPECT_NEAR(alpha_mean(s.hota), kBelow * std::sqrt(5.0 / 14), 1e-12);
  EXPECT_NEAR(alpha_mean(s.loc_a), (16 * k911 + 3) / 19, 1e-12);  // no TPs above 9/11: 1
  EXPECT_EQ(s.dets + s.gt_dets + s.ids + s.gt_ids, 24);
  EXPECT_EQ(shapes(r.events),
            (std::vector<std::vector<int>>{{3, 'S', 1, 20, 10, 2}, {3, 'S', 2, 10, 20, 2}}));
  EXPECT_DOUBLE_EQ(r.events[0].iou, k911);
}

TEST(EvaluationScores, LostAndFoundFragmentsAndAReappearance) {
  // gt 1: 10 on it in frames 1-2, off it (x = 50) in 3-7, then 60 on it in 8-10.
  // gt 2: 70 on it in frames 1-3, off (x = 150) in 4-5, on again in 6-10.
  std::string g, t;
  for (int f = 1; f <= 10; ++f) {
    g += gt(f, 1, 0) + gt(f, 2, 100);
    t += f <= 7 ? tr(f, 10, f <= 2 ? 1 : 50) : tr(f, 60, 1);
    t += tr(f, 70, f == 4 || f == 5 ? 150 : 101);
  }
  const sequence_result r = score(g, t, 10);
  const mot_scores& s = r.scores;
  EXPECT_EQ(s.clr_tp, 13);
  EXPECT_EQ(s.clr_fn, 7);
  EXPECT_EQ(s.clr_fp, 7);
  EXPECT_EQ(s.idsw, 1);
  EXPECT_EQ(s.frag, 2);
  EXPECT_DOUBLE_EQ(s.mota, 0.25);
  // Tracked 5/10 and 8/10 of their frames: both partly (0.8 is not more than 0.8).
  EXPECT_EQ(s.mt, 0);
  EXPECT_EQ(s.pt, 2);
  EXPECT_EQ(s.idtp, 11);  // 3 (gt 1, 60) + 8 (gt 2, 70)
  EXPECT_DOUBLE_EQ(s.idf1, 0.55);
  EXPECT_EQ(shapes(r.events),
            (std::vector<std::vector<int>>{
                {6, 'F', 2, 70, 70, 3}, {8, 'F', 1, 60, 10, 2}, {8, 'S', 1, 60, 10, 2}}));
}

TEST(EvaluationScores, EmptyFramesKeepTheLastMatchForContinuation) {
  // Frame 3 has no gt, frame 5 no tracker rows: neither resets the last match,
  // so in frames 4 and 6 tracker 10 (overlap 7/13, then 9/11) keeps gt 1
  // against 20 (overlap 1): no switch, no fragment.
  std::string g, t;
  for (int f : {1, 2, 4, 5, 6}) g += gt(f, 1, 0);
  t = tr(1, 10, 1) + tr(2, 10, 1) + tr(3, 10, 1) + tr(4, 10, 3) + tr(4, 20, 0) + tr(6, 10, 1) +
      tr(6, 20, 0);
  const mot_scores s = score(g, t, 6).scores;
  EXPECT_EQ(s.clr_tp, 4);
  EXPECT_EQ(s.clr_fn, 1);
  EXPECT_EQ(s.clr_fp, 3);
  EXPECT_EQ(s.idsw + s.frag, 0);
  EXPECT_DOUBLE_EQ(s.mota, 0.2);
  EXPECT_DOUBLE_EQ(s.motp, (3 * k911 + 7.0 / 13) / 4);
  EXPECT_EQ(s.pt, 1);  // tracked 4 of 5 frames
  EXPECT_EQ(s.idtp, 4);
  EXPECT_EQ(s.idfp, 3);
}

TEST(EvaluationScores, DistractorsZeroMarkedRowsAndMot20) {
  // gt: a pedestrian, a static person (7), a zero-marked car (3), a
  // zero-marked pedestrian, a distractor (8), a non-motorised vehicle (6).
  // Tracker boxes on each; the one on the distractor overlaps only 6/14.
  std::string g, t;
  const int classes[] = {1, 7, 3, 1, 8, 6}, flags[] = {1, 1, 0, 0, 1, 1};
  for (int i = 0; i < 6; ++i) {
    g += gt(1, i + 1, 100 * i, flags[i], classes[i]);
    t += tr(1, 10 + i, 100 * i + (i == 4 ? 4 : 1));
  }
  // Only the box on the static person goes (and with MOT20, the one on the vehicle).
  for (bool mot20 : {false, true}) {
    const mot_scores s = score(g, t, 1, mot20).scores;
    EXPECT_EQ(s.gt_dets, 1);
    EXPECT_EQ(s.dets, mot20 ? 4 : 5);
    EXPECT_EQ(s.ids, s.dets);
    EXPECT_EQ(s.clr_tp, 1);
    EXPECT_EQ(s.clr_fp, mot20 ? 3 : 4);
  }
  // Without tracker rows, or without gt kept: only misses (or extras), MLR 1, MOTA 0.
  const mot_scores none = score(g, "", 1).scores;
  EXPECT_EQ(none.clr_fn + none.idfn + none.ml, 3);
  EXPECT_EQ(none.mlr, 1.0);
  EXPECT_EQ(none.mota, 0.0);
  EXPECT_EQ(alpha_mean(none.loc_a), 1.0);
  const mot_scores extra = score(gt(1, 1, 0, 0), tr(1, 10, 50), 1).scores;
  EXPECT_EQ(extra.clr_fp + extra.idfp + extra.hota_fp[0], 3);
  EXPECT_EQ(extra.mota + extra.ml, 0.0);
}

TEST(EvaluationCauses, FirstThatHoldsAndTheEncounterNamed) {
  std::vector<identity_event> events = score(swap_gt(), swap_tracker(), 5).events;
  // The swap: 10 and 20 met in frames 2-3.
  assign_causes(events, {{10, 20, 2, 3, 5}, {10, 30, 1, 4, 1}}, {{10, 1}, {20, 1}}, 2);
  EXPECT_EQ(events[0].cause, switch_cause::meeting);
  EXPECT_EQ(events[1].encounter, "10_20_2");
  // gt 1 from 10 (frames 1-3) to 20 (frames 4-7); track 30 between them.
  std::string g, t;
  for (int f = 1; f <= 7; ++f) g += gt(f, 1, 0), t += tr(f, f <= 3 ? 10 : 20, 1);
  events = score(g, t, 7).events;
  ASSERT_EQ(events.size(), 1u);
  // W = [1, 6]: both encounters with 30 overlap it, the later start wins; on
  // equal starts the smaller distance (3 before 9).
  const std::vector<encounter_span> crowd = {
      {10, 30, 2, 4, 7}, {20, 30, 3, 5, 3}, {10, 40, 3, 4, 9}};
  assign_causes(events, crowd, {{10, 1}, {20, 4}}, 2);
  EXPECT_EQ(events[0].cause, switch_cause::crowd);
  EXPECT_EQ(events[0].encounter, "20_30_3");
  assign_causes(events, {{10, 30, 7, 9, 1}}, {{10, 1}, {20, 4}}, 2);  // after W
  EXPECT_EQ(events[0].cause, switch_cause::restart);                  // 20 began in W
  EXPECT_EQ(events[0].encounter, "");
  assign_causes(events, {}, {{10, 1}, {20, 1}}, 1);  // W = [2, 5]
  EXPECT_EQ(events[0].cause, switch_cause::other);
  assign_causes(events, crowd, {{10, 1}, {20, 4}}, 0);  // 4 - 3 > 0
  EXPECT_EQ(events[0].cause, switch_cause::reappearance);
  std::string table = kEventsHeader;
  append_event_row(table, events[0]);
  EXPECT_EQ(table.substr(table.find('\n') + 1),
            "4,switch,1,20,10,3,0.8181818181818182,reappearance,\n");
}

TEST(EvaluationScores, CombiningSequences) {
  std::string g, t;
  for (int f = 1; f <= 3; ++f) g += gt(f, 1, 0), t += tr(f, 10, 1);
  const mot_scores a = score(swap_gt(), swap_tracker(), 5).scores, b = score(g, t, 3).scores;
  const mot_scores c = combine_sequences({a, b});
  EXPECT_EQ(c.clr_tp, 13);
  EXPECT_EQ(c.idsw, 2);
  EXPECT_EQ(c.mt, 3);
  EXPECT_EQ(c.gt_ids, 3);
  EXPECT_DOUBLE_EQ(c.mota, 11.0 / 13);
  EXPECT_DOUBLE_EQ(c.motp, k911);
  EXPECT_DOUBLE_EQ(c.idf1, 9.0 / 13);
  // AssA weighted by TPs: (10 * 5/14 + 3 * 1) / 13 = 46/91 at each α <= 9/11.
  EXPECT_NEAR(alpha_mean(c.ass_a), kBelow * 46 / 91, 1e-12);
  EXPECT_NEAR(alpha_mean(c.hota), kBelow * std::sqrt(46.0 / 91), 1e-12);
  EXPECT_NEAR(alpha_mean(c.loc_a), (16 * k911 + 3) / 19, 1e-12);
  std::string table = kScoresHeader;
  append_scores_row(table, "a,b", c);
  EXPECT_EQ(table.substr(table.find('\n') + 1, 6), "\"a,b\",");
  EXPECT_NE(table.find(",13,0,0,2,3,0,0,0,"), std::string::npos);  // CLR_TP .. Frag
}

TEST(EvaluationRows, FormsAcceptedAndRefusals) {
  mot_rows rows;
  // BOM, header, CRLF, blanks, a frame written as a real (cut to 1), 6 tracker columns.
  ASSERT_EQ(parse_mot_rows("\xEF\xBB\xBF"
                           "frame,id,x,y,w,h\r\n1.9 3 0.5 1 2 3\r\n\n2,4,0,0,1,1",
                           "tr.txt", mot_kind::tracker, 2, rows),
            "");
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[0].frame, 1);
  EXPECT_EQ(rows.rows[0].line, 2);
  EXPECT_EQ(rows.rows[0].left, 0.5);
  EXPECT_EQ(parse_mot_rows("", "tr.txt", mot_kind::tracker, 2, rows), "");  // no rows: fine
  const struct {
    std::string gt, tracker, error;
  } cases[] = {
      {gt(1, 1, 0) + gt(2, 1, 0, 1, 14), tr(2, 5, 0),
       "gt.txt:2: class 14 is not a class of the benchmark (1 to 13)"},
      {gt(1, 1, 0) + gt(3, 1, 0, 1, 14), tr(1, 5, 0), ""},  // no tracker rows in frame 3
      {gt(1, 1, 0), "1,5,0,0,10,10,1,2\n", "tr.txt:1: class '2': only pedestrians are scored"},
      {gt(1, 1, 0), "1,5,0,0,10,10,1,-1,-1,-1\n", ""},
      {gt(1, 7, 0) + gt(1, 8, 0) + gt(1, 7, 50, 0, 7), "",
       "gt.txt:3: id 7 is in frame 1 twice (also on line 1)"},
      {gt(1, 1, 0), tr(1, 5, 0) + tr(1, 5, 9), "tr.txt:2: id 5 is in frame 1 twice"},
      {gt(4, 1, 0), "", "gt.txt:1: frame '4' is outside the sequence's frames 1 to 3"},
      {gt(1, 1, 0), "0.5,5,0,0,1,1,1\n", "tr.txt:1: frame '0.5' is outside"},
      {gt(1, 1, 0), "1,-1,0,0,1,1,1\n", "tr.txt:1: id '-1' is negative"},
      // Beyond every long long: out of range, not cast into a negative id.
      {gt(1, 1, 0), "1,1e19,0,0,1,1\n", "tr.txt:1: id '1e19' is out of range"},
      {"1,1,0,0,10,10,1\n", "", "gt.txt:1: ground truth needs 8 columns"},
      {gt(1, 1, 0), "1,5,0,x,1,1\n", "tr.txt:1: top 'x' is not a number"},
      {gt(1, 1, 0), "1,5,0,nan,1,1\n", "tr.txt:1: top 'nan' is not a number"},
      {gt(1, 1, 0), "1,5,0,,1,1\n", "tr.txt:1: column 4 (top) is empty"},
  };
  for (const auto& c : cases) {
    sequence_result r;
    const std::string why = scored(c.gt, c.tracker, 3, r);
    EXPECT_EQ(why.substr(0, c.error.size()), c.error) << c.gt << c.tracker;
    EXPECT_EQ(why.empty(), c.error.empty()) << why;
  }
}

TEST(EvaluationMatching, SameOptimumAsEveryMatchingTried) {
  // Random sparse score matrices of up to 6 x 6 against all matchings.
  std::mt19937 random(7);
  max_matching solver;
  std::vector<int> matched;
  for (int round = 0; round < 400; ++round) {
    const int rows = 1 + static_cast<int>(random() % 6), cols = 1 + static_cast<int>(random() % 6);
    std::vector<scored_pair> pairs;
    std::vector<double> dense(36, 0.0);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        if (random() % 3 == 0) {
          const double score = 0.01 + (random() % 1000) / 1000.0 + (random() % 2) * 1000;
          pairs.push_back({i, j, score});
          dense[i * 6 + j] = score;
        }
    // Best over all matchings: each row to a free column or to none.
    double best = 0;
    std::vector<int> used(6, 0);
    auto search = [&](auto& self, int i, double total) -> void {
      if (i == rows) {
        best = std::max(best, total);
        return;
      }
      self(self, i + 1, total);
      for (int j = 0; j < cols; ++j)
        if (!used[j] && dense[i * 6 + j] > 0) {
          used[j] = 1;
          self(self, i + 1, total + dense[i * 6 + j]);
          used[j] = 0;
        }
    };
    search(search, 0, 0.0);
    solver.solve(pairs, rows, cols, matched);
    double total = 0;
    std::vector<int> row_used(6, 0), col_used(6, 0);
    for (std::size_t k = 0; k < matched.size(); ++k) {
      const scored_pair& p = pairs[matched[k]];
      EXPECT_FALSE(row_used[p.row]++ || col_used[p.col]++);
      if (k > 0) {
        EXPECT_LT(pairs[matched[k - 1]].row, p.row);
      }
      total += p.score;
    }
    EXPECT_NEAR(total, best, 1e-9) << "round " << round;
  }
}

TEST(EvaluationScores, EventsAgreeWithTheCountsOnRandomSequences) {
  std::mt19937 random(11);
  for (int round = 0; round < 50; ++round) {
    // Four objects 12 apart (neighbours overlap a little); tracker ids
    // exchanged between objects and replaced by new ones now and then.
    std::string g, t;
    int ids[4] = {1, 2, 3, 4}, next = 5;
    for (int f = 1; f <= 30; ++f) {
      if (random() % 4 == 0) std::swap(ids[random() % 4], ids[random() % 4]);
      if (random() % 8 == 0) ids[random() % 4] = next++;
      for (int k = 0; k < 4; ++k) {
        if (random() % 8 != 0) g += gt(f, k + 1, 12 * k);
        if (random() % 6 != 0) t += tr(f, ids[k], 12 * k + (random() % 60) / 10.0);
      }
    }
    const sequence_result r = score(g, t, 30);
    long long switches = 0, fragments = 0;
    for (std::size_t i = 0; i < r.events.size(); ++i) {
      ++(r.events[i].type == event_type::fragment ? fragments : switches);
      if (i > 0) {
        EXPECT_LE(r.events[i - 1].frame, r.events[i].frame);
      }
    }
    EXPECT_EQ(switches, r.scores.idsw);
    EXPECT_EQ(fragments, r.scores.frag);
  }
}
