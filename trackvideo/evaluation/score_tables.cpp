// trackvideo/evaluation/score_tables.cpp - the tables (see score_tables.h).
#include "trackvideo/evaluation/score_tables.h"

#include <charconv>

namespace trackvideo {
namespace evaluation {

namespace {

// A double written so that it reads back to itself (the shortest such form).
void append_double(std::string& out, double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, r.ptr);
}

void append_name(std::string& out, const std::string& name) {
  if (name.find_first_of(",\"\r\n") == std::string::npos) {
    out += name;
    return;
  }
  out += '"';
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

const char* cause_name(switch_cause c) {
  switch (c) {
    case switch_cause::reappearance:
      return "reappearance";
    case switch_cause::meeting:
      return "meeting";
    case switch_cause::crowd:
      return "crowd";
    case switch_cause::restart:
      return "restart";
    case switch_cause::other:
      return "other";
    case switch_cause::none:
      break;
  }
  return "";
}

const char kScoresHeader[] =
    "sequence,HOTA,DetA,AssA,DetRe,DetPr,AssRe,AssPr,LocA,MOTA,MOTP,MODA,CLR_Re,CLR_Pr,MTR,PTR,"
    "MLR,sMOTA,CLR_TP,CLR_FN,CLR_FP,IDSW,MT,PT,ML,Frag,IDF1,IDR,IDP,IDTP,IDFN,IDFP,Dets,GT_Dets,"
    "IDs,GT_IDs\n";

void append_scores_row(std::string& out, const std::string& sequence, const mot_scores& s) {
  append_name(out, sequence);
  for (const per_alpha* field :
       {&s.hota, &s.det_a, &s.ass_a, &s.det_re, &s.det_pr, &s.ass_re, &s.ass_pr, &s.loc_a}) {
    out += ',';
    append_double(out, alpha_mean(*field));
  }
  for (double v : {s.mota, s.motp, s.moda, s.clr_re, s.clr_pr, s.mtr, s.ptr, s.mlr, s.smota}) {
    out += ',';
    append_double(out, v);
  }
  for (long long v : {s.clr_tp, s.clr_fn, s.clr_fp, s.idsw, s.mt, s.pt, s.ml, s.frag})
    out += ',' + std::to_string(v);
  for (double v : {s.idf1, s.idr, s.idp}) {
    out += ',';
    append_double(out, v);
  }
  for (long long v : {s.idtp, s.idfn, s.idfp, s.dets, s.gt_dets, s.ids, s.gt_ids})
    out += ',' + std::to_string(v);
  out += '\n';
}

const char kEventsHeader[] =
    "frame,type,gt_id,tracker_id,previous_tracker_id,previous_frame,iou,cause,encounter\n";

void append_event_row(std::string& out, const identity_event& e) {
  out += std::to_string(e.frame);
  out += e.type == event_type::fragment ? ",fragment," : ",switch,";
  out += std::to_string(e.gt_id) + ',' + std::to_string(e.tracker_id) + ',' +
         std::to_string(e.previous_tracker_id) + ',' + std::to_string(e.previous_frame) + ',';
  append_double(out, e.iou);
  out += ',';
  out += cause_name(e.cause);
  out += ',';
  out += e.encounter;
  out += '\n';
}

}  // namespace evaluation
}  // namespace trackvideo
