// The device-tree scan over 10,000 simulated devices whose hardware-ID lists have mixed
// lengths: time per scan, and how many buffers it allocated.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "detect/detect.h"
#include "platform/sim/machine.h"
#include "setup/messages.h"
#include "setup/setup.h"

static void ArrangeDevices(int count) {
  sim::Reset();
  unsigned seed = 12345;
  for (int i = 0; i < count; i++) {
    seed = seed * 1103515245u + 12345u;
    int entries = 1 + (int)((seed >> 16) % 6);
    std::vector<std::string> ids;
    for (int e = 0; e < entries; e++) {
      seed = seed * 1103515245u + 12345u;
      int pad = (int)((seed >> 16) % 48);
      ids.push_back("PCI\\VEN_8086&DEV_" + std::to_string(i) + "&SUBSYS_" + std::string(pad, 'A' + e));
    }
    sim::AddDevice("ROOT\\BENCH\\" + std::to_string(i), ids);
  }
  sim::AddDevice("PCI\\CARD\\0", {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00"});
}

static void BM_ScanDeviceTree(benchmark::State& state) {
  ArrangeDevices((int)state.range(0));
  ActiveMessages = MessageTable;
  DebugTrace = 0;
  int64_t allocations = 0;
  int64_t queries = 0;
  for (auto _ : state) {
    sim::M().calls.clear();
    int64_t before = sim::M().devices.localAllocs;
    SeenUsbId4001 = SeenUsbId4003 = SeenUsbId4004 = SeenPciId = 0;
    int answer = FindExistingDevice();
    benchmark::DoNotOptimize(answer);
    if (answer != 1) state.SkipWithError("the card was not found");
    allocations = sim::M().devices.localAllocs - before;
    queries = sim::CountCalls("SetupDiGetDeviceRegistryPropertyA");
  }
  state.counters["devices"] = (double)state.range(0) + 1;
  state.counters["allocations"] = (double)allocations;
  state.counters["queries"] = (double)queries;
  state.counters["live_after"] = (double)sim::M().liveAllocations;
}
BENCHMARK(BM_ScanDeviceTree)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
