// bench/evaluation_bench.cpp - the scoring core alone, as a whole process:
//
//   evaluation_bench [--mot20] [--events DIR] NAME LENGTH GT TRACKER [NAME LENGTH GT TRACKER ...]
//
// reads each sequence's ground truth and tracker rows, scores them, prints
// the scores table (one row per sequence in the order given, then COMBINED)
// on standard output and, per sequence, its counts of switch and fragment
// events on standard error; --events writes DIR/NAME.csv, the events table.
// bench/README.md compares it with the official evaluation.
#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/evaluation/mot_rows.h"
#include "trackvideo/evaluation/score_tables.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace ev = trackvideo::evaluation;

int main(int argc, char** argv) {
  ev::evaluation_options options;
  std::string events_dir;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--mot20") == 0) {
      options.mot20 = true;
    } else if (std::strcmp(argv[i], "--events") == 0 && i + 1 < argc) {
      events_dir = argv[++i];
    } else {
      std::fprintf(stderr, "evaluation_bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (i == argc || (argc - i) % 4 != 0) {
    std::fprintf(stderr,
                 "usage: evaluation_bench [--mot20] [--events DIR] NAME LENGTH GT TRACKER ...\n");
    return 2;
  }
  std::string table = ev::kScoresHeader;
  std::vector<ev::mot_scores> all;
  for (; i < argc; i += 4) {
    const std::string name = argv[i];
    const int length = std::atoi(argv[i + 1]);
    ev::mot_rows gt, tracker;
    ev::sequence_result result;
    std::string why = ev::read_mot_rows(argv[i + 2], ev::mot_kind::ground_truth, length, gt);
    if (why.empty()) why = ev::read_mot_rows(argv[i + 3], ev::mot_kind::tracker, length, tracker);
    if (why.empty()) why = ev::evaluate_sequence(gt, tracker, length, options, result);
    if (!why.empty()) {
      std::fprintf(stderr, "evaluation_bench: %s\n", why.c_str());
      return 1;
    }
    ev::append_scores_row(table, name, result.scores);
    all.push_back(result.scores);
    long long switches = 0, fragments = 0;
    std::string events = ev::kEventsHeader;
    for (const ev::identity_event& e : result.events) {
      ++(e.type == ev::event_type::fragment ? fragments : switches);
      ev::append_event_row(events, e);
    }
    std::fprintf(stderr, "%s: %lld switch events, %lld fragment events\n", name.c_str(), switches,
                 fragments);
    if (!events_dir.empty()) {
      const std::string path = events_dir + "/" + name + ".csv";
      std::FILE* f = std::fopen(path.c_str(), "w");
      if (f == nullptr || std::fwrite(events.data(), 1, events.size(), f) != events.size() ||
          std::fclose(f) != 0) {
        std::fprintf(stderr, "evaluation_bench: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  ev::append_scores_row(table, "COMBINED", ev::combine_sequences(all));
  std::fwrite(table.data(), 1, table.size(), stdout);
  return 0;
}
