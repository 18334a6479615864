// The picture stack (libvips and what it pulls in) costs start-up time, so
// only commands that render pictures may load it. The dynamic loader's own
// trace (LD_DEBUG=files, written to standard error by the loader, not by the
// helper) shows every object the process opened.
#include <gtest/gtest.h>

#include "support/scratch_library.h"

namespace tolvek::testing {
namespace {

struct Library {
  ScratchLibrary scratch;
  std::string picture;

  void build() {
    picture = scratch.import(scratch.picture("picture.jpg", "jpeg", {.width = 320, .height = 240}));
    scratch.grantAccess();
  }
};

class ImageStack : public SharedLibraryTest<Library> {
 protected:
  // The run's loader trace; its standard output must still be one document.
  static std::string loaderTrace(const std::vector<std::string>& arguments, int status) {
    const ProcessResult result = lib_->scratch.helper(arguments, {{"LD_DEBUG", "files"}});
    EXPECT_TRUE(result.exited());
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out.substr(0, 200);
    EXPECT_NE(result.err.find("calling init"), std::string::npos)
        << "no loader trace: is LD_DEBUG honoured here?";
    return result.err;
  }
  static bool loadsVips(const std::string& trace) { return trace.find("libvips.so") != std::string::npos; }
};

TEST_F(ImageStack, AlbumsListAndUsageErrorsNeverLoadIt) {
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{}, 2}, {{"albums"}, 0}, {{"list", "-", "500"}, 0}, {{"nope"}, 2}, {{"thumbs"}, 2}, {{"export", "x"}, 2}};
  for (const auto& [arguments, status] : runs) {
    const std::string trace = loaderTrace(arguments, status);
    EXPECT_FALSE(loadsVips(trace)) << (arguments.empty() ? std::string("(no arguments)") : arguments.front());
    EXPECT_EQ(trace.find("libavcodec"), std::string::npos);
  }
}

TEST_F(ImageStack, ThumbsLoadsItAndStillWritesOneDocument) {
  const std::string trace = loaderTrace({"thumbs", "240", lib_->picture}, 0);
  EXPECT_TRUE(loadsVips(trace));
  const ProcessResult quiet = lib_->scratch.helper({"thumbs", "240", lib_->picture});
  const Json document = expectOneDocument(quiet, 0);
  EXPECT_EQ(document["thumbs"].size(), 1u);
}

}  // namespace
}  // namespace tolvek::testing
