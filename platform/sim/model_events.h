// The simulated Application event log: the sources opened and the events reported through them.
#ifndef PLATFORM_SIM_MODEL_EVENTS_H
#define PLATFORM_SIM_MODEL_EVENTS_H

#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

// One event as the log keeps it.
struct EventRecord {
  std::string source;  // as RegisterEventSourceA was given it
  WORD type;
  WORD category;
  DWORD id;
  std::vector<std::string> strings;
};

struct EventsModel {
  std::vector<EventRecord> reported;  // in order
};

// Windows refuses an insertion string longer than this (31839 characters).
#define SIM_EVENT_STRING_LIMIT 31839u

}  // namespace sim

#endif
