// How long a full save of a profile takes on this platform's registry: the
// tree is deleted, then 41 keys and 120 values are written one value at a
// time, as the configuration save does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/registry_key.h"
#include "platform/system.h"

namespace {

void SaveProfile(brisvane::RegistryKey& profile) {
  profile.DeleteTree();
  for (int section = 0; section < 8; ++section) {
    brisvane::RegistryKey key(profile, "Section" + std::to_string(section), true);
    for (int v = 0; v < 10; ++v) key.SetDword(("Value" + std::to_string(v)).c_str(), 1000u + v);
  }
  for (int server = 0; server < 4; ++server) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", server);
    brisvane::RegistryKey vs(profile, std::string("Server\\") + name, true);
    vs.SetString("DocRoot", "/srv/brisvane/HTDOCS");
    vs.SetString("SiteIP", "127.0.0.1");
    for (int list = 0; list < 7; ++list) {
      brisvane::RegistryKey sub(vs, "List" + std::to_string(list), true);
      sub.SetString("/PATH", "/srv/brisvane/target");
      if (list < 1) sub.SetString("/OTHER", "/srv/brisvane/other");
    }
  }
}

void BM_FullProfileSave(benchmark::State& state) {
  auto dir = std::filesystem::temp_directory_path() /
             ("brisvane-bench-" + std::to_string(platform::current_process_id()));
  std::filesystem::create_directories(dir);
  platform::set_env("BRISVANE_REGISTRY", (dir / "registry.reg").string());
  brisvane::RegistryKey profile(platform::kHkeyLocalMachine,
                                "SOFTWARE\\Halvex\\Brisvane\\2.0\\Default", true);
  for (auto _ : state) SaveProfile(profile);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_FullProfileSave)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
