// trackvideo/run/run_outputs.h - what a run may write, and where: the output set
// with its folders and files opened, and the names each output folder holds.
//
// prepare_outputs() builds the run's output_set over its inputs (the tracks,
// the video, the images, seqinfo.ini, the ground truth; the frames' folder),
// prepares the output folders (an outer one before one inside it, whatever
// the order on the command line), then opens the table, the video's file, the
// encounters table, the metrics and events tables and, in a batch, the
// report. check_standard_output()
// refuses a standard output that is one of the inputs or outputs.
//
// Ownership: run_outputs owns the set; its file pointers stay valid until the
// set commits or discards. Failure: "" or the run's line.
#ifndef TRACKVIDEO_RUN_RUN_OUTPUTS_H
#define TRACKVIDEO_RUN_RUN_OUTPUTS_H

#include <cstdio>
#include <memory>
#include <string>

#include "trackvideo/run/options.h"
#include "trackvideo/run/outputs.h"
#include "trackvideo/run/run.h"
#include "trackvideo/run/run_inputs.h"

namespace trackvideo {

struct run_outputs {
  std::unique_ptr<output_set> set;
  common::atomic_file* csv = nullptr;
  common::atomic_file* video = nullptr;
  common::atomic_file* page_video = nullptr;  // DIR/kPageVideo of --html
  common::atomic_file* encounters = nullptr;
  common::atomic_file* metrics = nullptr;  // --metrics
  common::atomic_file* events = nullptr;   // --events
  common::atomic_file* report = nullptr;  // a batch's
};

// `files`: a batch's sequence, else nullptr.
std::string prepare_outputs(const options& o, const run_inputs& in, const sequence_files* files,
                            run_outputs& out);
std::string check_standard_output(const options& o, const run_inputs& in, std::FILE* out);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_RUN_OUTPUTS_H
