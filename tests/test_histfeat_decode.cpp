// histfeat's image decoding: JPEG and PNG decoded by libjpeg and libpng give
// the very planes OpenCV gives (differential, over colour types and depths);
// cut, corrupt and oversized files are refused with the decoder's one message.

#include "histfeat/decode.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <string>
#include <vector>

using namespace histfeat;

namespace {

std::vector<unsigned char> encode(const std::string& extension, const cv::Mat& image,
                                  const std::vector<int>& parameters = {}) {
  std::vector<unsigned char> bytes;
  if (!cv::imencode(extension, image, bytes, parameters)) throw std::runtime_error("imencode");
  return bytes;
}

// A picture with every sample value in each channel, in uneven amounts.
cv::Mat picture(int type, int width = 67, int height = 45) {
  cv::Mat image(height, width, type);
  const int channels = image.channels();
  const double scale = image.depth() == CV_16U ? 257.3 : 1.0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const int v = (x * (7 + c) + y * (3 + 2 * c) + x * y) & 255;
        if (image.depth() == CV_16U)
          image.ptr<std::uint16_t>(y)[x * channels + c] = static_cast<std::uint16_t>(v * scale);
        else
          image.ptr<std::uint8_t>(y)[x * channels + c] = static_cast<std::uint8_t>(v);
      }
  return image;
}

std::string decode(const std::vector<unsigned char>& bytes, frame_planes& planes,
                   std::vector<std::uint8_t>& storage, long long max_pixels = kDefaultMaxPixels) {
  return decode_frame({bytes.data(), bytes.size(), "img"}, max_pixels, storage, planes);
}

}  // namespace

TEST(Decode, JpegAndPngGiveThePlanesOpenCvGives) {
  const struct {
    const char* what;
    std::string extension;
    cv::Mat image;
  } cases[] = {
      {"colour JPEG", ".jpg", picture(CV_8UC3)},      {"grey JPEG", ".jpg", picture(CV_8UC1)},
      {"colour PNG", ".png", picture(CV_8UC3)},       {"grey PNG", ".png", picture(CV_8UC1)},
      {"PNG with alpha", ".png", picture(CV_8UC4)},   {"16-bit PNG", ".png", picture(CV_16UC3)},
      {"16-bit grey PNG", ".png", picture(CV_16UC1)}, {"one pixel", ".png", picture(CV_8UC3, 1, 1)},
  };
  for (const auto& c : cases) {
    const std::vector<unsigned char> bytes = encode(c.extension, c.image);
    cv::Mat expected = cv::imdecode(bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    ASSERT_EQ(expected.type(), CV_8UC3) << c.what;
    std::vector<std::uint8_t> storage;
    frame_planes planes{};
    ASSERT_EQ(decode(bytes, planes, storage), "") << c.what;
    ASSERT_EQ(planes.red.width, expected.cols) << c.what;
    ASSERT_EQ(planes.red.height, expected.rows) << c.what;
    int differences = 0;
    for (int y = 0; y < expected.rows; ++y)
      for (int x = 0; x < expected.cols; ++x) {
        const cv::Vec3b pixel = expected.at<cv::Vec3b>(y, x);
        const sample_plane* p[3] = {&planes.red, &planes.green, &planes.blue};
        for (int k = 0; k < 3; ++k) differences += p[k]->data[y * p[k]->stride + x] != pixel[k];
      }
    EXPECT_EQ(differences, 0) << c.what;
  }
}

TEST(Decode, CutOrCorruptFilesAreRefusedWithTheDecodersMessage) {
  const std::vector<unsigned char> jpeg = encode(".jpg", picture(CV_8UC3, 320, 240));
  const std::vector<unsigned char> png = encode(".png", picture(CV_8UC3, 320, 240));
  std::vector<unsigned char> flipped = png;
  flipped[png.size() / 2] ^= 0x5a;  // inside the image data: its CRC no longer holds
  const struct {
    const char* what;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"JPEG cut at 70 %", {jpeg.begin(), jpeg.begin() + jpeg.size() * 7 / 10}},
      {"JPEG without its end marker", {jpeg.begin(), jpeg.end() - 2}},
      {"JPEG header only", {jpeg.begin(), jpeg.begin() + 300}},
      {"PNG cut at 70 %", {png.begin(), png.begin() + png.size() * 7 / 10}},
      {"PNG with a flipped byte", flipped},
      {"PNG signature only", {png.begin(), png.begin() + 8}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> storage;
    frame_planes planes{};
    const std::string why = decode(c.bytes, planes, storage);
    EXPECT_EQ(why.rfind("img: ", 0), 0u) << c.what << ": " << why;
    EXPECT_GT(why.size(), 5u) << c.what;
    EXPECT_EQ(why.find('\n'), std::string::npos) << c.what;
  }
  std::vector<std::uint8_t> storage;
  frame_planes planes{};
  EXPECT_EQ(decode({'B', 'M', 0, 1}, planes, storage), "cannot decode img as a colour image");
}

TEST(Decode, TheSizeIsCheckedFromTheHeaderAgainstTheLimit) {
  for (const std::string extension : {".jpg", ".png"}) {
    const std::vector<unsigned char> bytes = encode(extension, picture(CV_8UC3, 40, 25));
    std::vector<std::uint8_t> storage;
    frame_planes planes{};
    EXPECT_EQ(decode(bytes, planes, storage, 1000), "") << extension << ": exactly at the limit";
    EXPECT_EQ(decode(bytes, planes, storage, 999),
              "img: 40 x 25 pixels, more than the limit of 999")
        << extension;
    // Only the header is needed to refuse.
    const std::vector<unsigned char> head(bytes.begin(), bytes.begin() + bytes.size() / 3);
    EXPECT_EQ(decode(head, planes, storage, 999), "img: 40 x 25 pixels, more than the limit of 999")
        << extension;
  }
}
