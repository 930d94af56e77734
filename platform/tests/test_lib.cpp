// Loaded by the library tests: an export that computes something, and a
// count of its calls that shows whether two loads share one copy.
#ifdef _WIN32
#define TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
int g_calls = 0;
}

TEST_EXPORT int platform_test_add(int a, int b) {
  ++g_calls;
  return a + b;
}

TEST_EXPORT int platform_test_calls() { return g_calls; }
