// Known answers of the reference -lh5- compressor: exact streams, results and round trips.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "support/test_support.h"

namespace {

struct Vector {
  std::string name;
  size_t inputBytes = 0;
  size_t streamBytes = 0;
  bool packed = false;
  int result = 0;
};

std::vector<Vector> LoadIndex() {
  std::ifstream in(kdltest::DataPath("lh5-vectors/index.tsv"));
  std::vector<Vector> list;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    Vector v;
    std::string outcome, hash;
    fields >> v.name >> v.inputBytes >> v.streamBytes >> outcome >> v.result >> hash;
    v.packed = outcome == "packed";
    list.push_back(v);
  }
  return list;
}

class Lh5Vectors : public ::testing::Test {
 protected:
  void SetUp() override {
    vectors_ = LoadIndex();
    ASSERT_GE(vectors_.size(), 30u) << "index.tsv not read";
    ASSERT_EQ(codec_.CodecInit(), 0);
  }
  std::vector<uint8_t> Input(const Vector& v) {
    return kdltest::ReadFile(kdltest::DataPath("lh5-vectors/" + v.name + ".in"));
  }
  std::vector<uint8_t> Stream(const Vector& v) {
    return kdltest::ReadFile(kdltest::DataPath("lh5-vectors/" + v.name + ".lh5"));
  }
  std::vector<Vector> vectors_;
  kdl::TrackCodec codec_;
};

TEST_F(Lh5Vectors, CompressTrackGivesTheReferenceResultAndBytes) {
  for (const Vector& v : vectors_) {
    SCOPED_TRACE(v.name);
    std::vector<uint8_t> in = Input(v);
    ASSERT_EQ(in.size(), v.inputBytes);
    std::vector<uint8_t> stream = Stream(v);
    ASSERT_EQ(stream.size(), v.streamBytes);
    std::vector<uint8_t> out(in.size() + 1);
    int n = codec_.CompressTrack(in.data(), out.data(), static_cast<int32_t>(in.size()));
    EXPECT_EQ(n, v.result);
    if (v.packed && n >= 0) {
      out.resize(static_cast<size_t>(n));
      EXPECT_EQ(out, stream);
    }
  }
}

TEST_F(Lh5Vectors, UnboundedStreamMatchesEveryVector) {
  for (const Vector& v : vectors_) {
    SCOPED_TRACE(v.name);
    std::vector<uint8_t> in = Input(v);
    EXPECT_EQ(kdl::Lh5CompressUnbounded(in.data(), in.size()), Stream(v));
  }
}

TEST_F(Lh5Vectors, ExpandTrackRestoresEveryInput) {
  for (const Vector& v : vectors_) {
    SCOPED_TRACE(v.name);
    std::vector<uint8_t> in = Input(v);
    std::vector<uint8_t> stream = Stream(v);
    std::vector<uint8_t> out(in.size());
    ASSERT_EQ(codec_.ExpandTrack(stream.data(), out.data(), static_cast<int32_t>(out.size()),
                                 static_cast<int32_t>(stream.size())),
              0);
    EXPECT_EQ(out, in);
  }
}

}  // namespace
