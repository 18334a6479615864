#pragma once
// An Application on the in-memory library that records whether the gate and
// the services were asked for, so dispatch tests see what a command line
// reaches. Its library holds assets "A" and "B" (pictures with originals) in
// album "AL/1", and 70 more in the whole library, so that limits, sizes,
// folders and identifiers all show in what the commands ask and answer.
#include <string>

#include "cli/application.h"
#include "support/fake_main_loop.h"
#include "support/in_memory_file_system.h"
#include "support/in_memory_library.h"

namespace tolvek::testing {

class RecordingApplication final : public Application {
 public:
  explicit RecordingApplication(bool grantAccess = true) : grantAccess_(grantAccess) {
    for (const std::string id : {"A", "B"}) {
      library.addAsset(id, MediaType::image, 1000);
      library.addResource(id, ResourceType::photo, id + ".jpg", "public.jpeg");
      library.images().setPicture(id, {400, 300});
      library.images().setData(id, "bytes of " + id, "public.jpeg");
    }
    library.addCollection("AL/1", CollectionType::album, "Trip");
    library.addToCollection("AL/1", "A");
    library.addToCollection("AL/1", "B");
    for (int i = 0; i < 70; ++i) library.addAsset("N" + std::to_string(i), MediaType::image, 2000 + i);
  }

  bool ensureAccess() override {
    gateCalls += 1;
    return grantAccess_;
  }
  Services& services() override {
    servicesAsked = true;
    return services_;
  }
  const IsoDateFormatter& dates() override { return iso_; }

  int gateCalls = 0;
  bool servicesAsked = false;
  ManualClock clock;
  FakeMainLoop loop{clock};
  InMemoryFileSystem files{"/home/user"};
  InMemoryLibrary library{loop, &files};
  FakePictureDecoder pictures;

 private:
  bool grantAccess_;
  IsoDateFormatter iso_;
  Services services_{library, pictures, loop, clock, files};
};

}  // namespace tolvek::testing
