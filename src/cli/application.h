#pragma once
// What the dispatch runs commands on: the access gate, and the services and
// date formatter the commands use. The real one is built by the composition
// root on the user's photo library; tests give the in-memory library.
#include "commands/iso_date_formatter.h"
#include "library/services.h"

namespace tolvek {

class Application {
 public:
  virtual ~Application() = default;
  // True when the run may read the library (authorized or limited).
  virtual bool ensureAccess() = 0;
  // What a command runs on. Asked only after ensureAccess let the run
  // through; may build the library then. Both live as long as the
  // application; used on the calling thread only.
  virtual Services& services() = 0;
  virtual const IsoDateFormatter& dates() = 0;
};

}  // namespace tolvek
