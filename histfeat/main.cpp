// histfeat: colour histograms of three boxes of a frame, written as the records
// of a detection file. Without arguments it reads "v200.jpg" and "pos.txt" and
// writes "objects_info_1.txt" in the current directory; "IMAGE BOXES OUTPUT"
// names the files, "--batch LIST" takes many such lines, "--help" tells more.
// Exit status 0, 1 after "histfeat: <what is wrong>" on standard error, or 2 for
// wrong usage.

#include "histfeat/histfeat.h"
#include "histfeat/opencv_decode.h"

int main(int argc, char** argv) {
  // Images other than JPEG and PNG through OpenCV, for every run and --batch.
  histfeat::set_other_format_decoder(histfeat::opencv_decode);
  return histfeat::program_main(argc, argv);
}
