// histfeat's image decoding: JPEG and PNG decoded by libjpeg and libpng give
// the very planes OpenCV gives (differential, over colour types and depths);
// cut, corrupt and oversized files are refused with the decoder's one message;
// other formats and CMYK JPEGs go to the registered decoder, or are refused.

#include "histfeat/decode.h"
#include "histfeat/opencv_decode.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
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

// A four-channel (CMYK) JPEG, which OpenCV writes none of.
std::vector<unsigned char> cmyk_jpeg(int width, int height) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &data, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(4 * static_cast<std::size_t>(width));
  while (info.next_scanline < info.image_height) {
    for (std::size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<unsigned char>(i * 13 + info.next_scanline * 7);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<unsigned char> bytes(data, data + size);
  std::free(data);
  return bytes;
}

// Each test starts and ends without a decoder of other formats.
class OtherFormats : public ::testing::Test {
 protected:
  void SetUp() override { set_other_format_decoder(nullptr); }
  void TearDown() override { set_other_format_decoder(nullptr); }
};

// What the last call of the recording decoder was given.
int recorded_calls = 0;
long long recorded_limit = 0;
std::string recorded_path;
std::string recording_decoder(const image_source& source, long long max_pixels, bgr_image&) {
  ++recorded_calls;
  recorded_limit = max_pixels;
  recorded_path = source.path;
  return "the recorder's line";
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

TEST_F(OtherFormats, RefusedWithoutADecoderThroughOpenCvWithIt) {
  const std::vector<unsigned char> bmp = encode(".bmp", picture(CV_8UC3, 21, 9));
  const std::vector<unsigned char> cmyk = cmyk_jpeg(12, 8);
  const std::vector<unsigned char> junk = {'B', 'M', 0, 1};
  const struct {
    const char* what;
    const std::vector<unsigned char>& bytes;
    const char* without;  // the line without a decoder
    const char* with;     // with OpenCV's: "" (decoded as OpenCV decodes it) or its line
  } cases[] = {
      {"BMP", bmp, "cannot decode img: not a JPEG or PNG image", ""},
      {"CMYK JPEG", cmyk, "cannot decode img: a CMYK JPEG (only grey and colour JPEGs are read)",
       ""},
      {"junk", junk, "cannot decode img: not a JPEG or PNG image",
       "cannot decode img as a colour image"},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> storage;
    frame_planes planes{};
    set_other_format_decoder(nullptr);
    EXPECT_EQ(decode(c.bytes, planes, storage), c.without) << c.what;
    set_other_format_decoder(opencv_decode);
    ASSERT_EQ(decode(c.bytes, planes, storage), c.with) << c.what;
    if (*c.with) continue;
    const cv::Mat expected = cv::imdecode(c.bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    ASSERT_EQ(planes.red.width, expected.cols) << c.what;
    ASSERT_EQ(planes.red.height, expected.rows) << c.what;
    for (int y = 0; y < expected.rows; ++y)
      for (int x = 0; x < expected.cols; ++x)
        ASSERT_EQ(planes.green.data[y * planes.green.stride + x], expected.at<cv::Vec3b>(y, x)[1])
            << c.what << " at " << x << "," << y;
  }
}

TEST_F(OtherFormats, TheDecoderGetsTheSourceAndLimitAndOnlyWhatNeedsIt) {
  set_other_format_decoder(recording_decoder);
  std::vector<std::uint8_t> storage;
  frame_planes planes{};
  EXPECT_EQ(decode(encode(".bmp", picture(CV_8UC3, 5, 5)), planes, storage, 1234),
            "the recorder's line");
  EXPECT_EQ(recorded_calls, 1);
  EXPECT_EQ(recorded_limit, 1234);
  EXPECT_EQ(recorded_path, "img");
  EXPECT_EQ(decode(cmyk_jpeg(4, 4), planes, storage), "the recorder's line");
  EXPECT_EQ(recorded_calls, 2);
  // JPEG and PNG never reach it, nor a CMYK JPEG beyond the limit or cut.
  const std::vector<unsigned char> cmyk = cmyk_jpeg(40, 30);
  for (const auto& bytes :
       {encode(".jpg", picture(CV_8UC3)), encode(".png", picture(CV_8UC4)), cmyk,
        std::vector<unsigned char>(cmyk.begin(), cmyk.begin() + cmyk.size() / 2)}) {
    const std::string why = decode(bytes, planes, storage, bytes == cmyk ? 1000 : kDefaultMaxPixels);
    EXPECT_NE(why, "the recorder's line");
  }
  EXPECT_EQ(recorded_calls, 2);
}
