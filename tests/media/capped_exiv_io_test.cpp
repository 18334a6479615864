// exiv2's reader over an opened file: never past the cap or the file's size
// when opened, a file cut short ends where it ends, no writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <exiv2/error.hpp>

#include <string>

#include "platform/media/capped_exiv_io.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

std::string bytesUpTo(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>('a' + i % 26);
  return bytes;
}

TEST(CappedExivIo, ReadsSeeksAndMapsWithinTheCapOnly) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("f"), bytesUpTo(100)));
  auto file = ReadableFile::open(folder.file("f"));
  ASSERT_TRUE(file);
  media::CappedExivIo io(*file, 50);
  ASSERT_EQ(io.open(), 0);
  EXPECT_EQ(io.size(), 50u);
  Exiv2::byte buffer[100] = {};
  EXPECT_EQ(io.read(buffer, 100), 50);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 50), bytesUpTo(50));
  EXPECT_TRUE(io.eof());
  EXPECT_EQ(io.seek(10, Exiv2::BasicIo::beg), 0);
  EXPECT_EQ(io.getb(), 'k');
  EXPECT_EQ(io.tell(), 11);
  EXPECT_NE(io.seek(51, Exiv2::BasicIo::beg), 0) << "past the cap";
  EXPECT_NE(io.seek(-1, Exiv2::BasicIo::beg), 0);
  EXPECT_EQ(io.seek(-5, Exiv2::BasicIo::end), 0);
  EXPECT_EQ(io.read(1000).size_, 5);  // never more than is left
  EXPECT_EQ(io.seek(0, Exiv2::BasicIo::beg), 0);
  const Exiv2::byte* mapped = io.mmap(false);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped), io.size()), bytesUpTo(50));
  EXPECT_THROW(io.mmap(true), Exiv2::AnyError);
  EXPECT_EQ(io.write(buffer, 10), 0);
  EXPECT_EQ(io.putb(1), EOF);
}

TEST(CappedExivIo, AFileCutShortWhileReadEndsWhereItEnds) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("f"), bytesUpTo(100)));
  auto file = ReadableFile::open(folder.file("f"));
  ASSERT_TRUE(file);
  media::CappedExivIo io(*file, 1000);
  ASSERT_EQ(io.open(), 0);
  EXPECT_EQ(io.size(), 100u) << "the size when opened";
  ASSERT_EQ(::truncate(folder.file("f").c_str(), 30), 0);
  Exiv2::byte buffer[100] = {};
  EXPECT_EQ(io.read(buffer, 100), 30);
  EXPECT_TRUE(io.eof());
  EXPECT_EQ(io.size(), 30u);
  // A copy, never a mapping that would fault on the missing bytes.
  EXPECT_EQ(io.seek(0, Exiv2::BasicIo::beg), 0);
  EXPECT_NE(io.mmap(false), nullptr);
}

}  // namespace
}  // namespace tolvek::testing
