#pragma once
// The real Shotwell and digiKam databases of the samples folder, made usable
// by a test: the photo tree they describe unpacked into a scratch folder, and
// copies of the databases whose paths point into it (the originals name
// /fixture/photos). Tests skip when the samples are absent:
//   if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
#include <string>

#include "support/media_fixtures.h"

namespace tolvek::testing {

class ManagerSamples {
 public:
  static std::string folder();  // the samples' managers/ folder
  static bool available();
  static std::string missing();  // why the tests skip

  // Unpacks photos.tar into a new scratch folder (a failure is a test failure).
  ManagerSamples();

  // The unpacked photo tree: the databases' /fixture/photos.
  std::string photos() const { return scratch_.file("photos"); }
  // A file name in the scratch folder, for databases and other files of a test.
  std::string file(const std::string& name) const { return scratch_.file(name); }
  // A copy of the sample Shotwell or digiKam database at file(name), its
  // paths moved to photos(), then `sql` run on it; empty on failure (a test
  // failure).
  std::string shotwellCopy(const std::string& name, const std::string& sql = {}) const;
  std::string digikamCopy(const std::string& name, const std::string& sql = {}) const;

 private:
  std::string copy(const char* sample, const std::string& name, const std::string& moveSql, const std::string& sql) const;
  ScratchFolder scratch_;
};

}  // namespace tolvek::testing
