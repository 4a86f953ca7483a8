// histfeat's other formats through OpenCV's imgcodecs (see opencv_decode.h).

#include "histfeat/opencv_decode.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstring>
#include <new>

namespace histfeat {

std::string opencv_decode(const image_source& source, long long, bgr_image& out) {
  const int flags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;
  cv::Mat image;
  try {
    if (!source.data)
      image = cv::imread(source.path, flags);
    else if (source.size > 0)
      image = cv::imdecode(cv::Mat(1, static_cast<int>(source.size), CV_8UC1,
                                   const_cast<unsigned char*>(source.data)),
                           flags);
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) throw std::bad_alloc();
    image.release();
  }
  if (image.empty() || image.type() != CV_8UC3)
    return "cannot decode " + source.path + " as a colour image";
  out.width = image.cols;
  out.height = image.rows;
  out.row_bytes = 3 * static_cast<std::size_t>(image.cols);
  out.pixels.resize(out.row_bytes * static_cast<std::size_t>(image.rows));
  for (int y = 0; y < image.rows; ++y)
    std::memcpy(out.pixels.data() + out.row_bytes * static_cast<std::size_t>(y), image.ptr(y),
                out.row_bytes);
  return "";
}

}  // namespace histfeat
