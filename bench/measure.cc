// One walk over a generated stand-in machine of a given number of binding
// paths, for measuring: run it under callgrind for the instructions the walk
// takes; it reports itself how much heap the walk needs beyond the machine.
// usage: ferrule_measure PATHS query|disable|enable
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cstddef>
#include <new>
#include <string>

#include "session.h"
#include "walks.h"

static size_t inUse = 0;
static size_t peak = 0;

// Each block keeps its size in a header as large as the strictest alignment,
// so that what follows the header is aligned as malloc's own blocks are.
static const size_t header = alignof(std::max_align_t);

void* operator new(size_t size) {
  char* block = (char*)malloc(size + header);
  if (block == NULL) throw std::bad_alloc();
  *(size_t*)block = size;
  inUse += size;
  if (inUse > peak) peak = inUse;
  return block + header;
}

void operator delete(void* p) noexcept {
  if (p == NULL) return;
  char* block = (char*)p - header;
  inUse -= *(size_t*)block;
  free(block);
}

void operator delete(void* p, size_t) noexcept {
  operator delete(p);
}

// Components of ten paths each, as many as the count needs.
static standin::Machine generate(long paths) {
  standin::Machine machine;
  for (long k = 0; k * 10 < paths; k++) {
    wchar_t name[32];
    swprintf(name, 32, L"ms_c%06ld", k);
    standin::Component component = {name, L"Generated Component", {}};
    for (long p = 0; p < 10 && k * 10 + p < paths; p++) {
      std::wstring token = L"ms_up" + std::to_wstring(p) + L"->" + name;
      component.paths.push_back(standin::BindingPath{token, p % 2 == 0, p % 2 == 0});
    }
    machine.classes[2].push_back(component);
  }
  return machine;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: ferrule_measure PATHS query|disable|enable\n");
    return 2;
  }
  long paths = atol(argv[1]);
  int mode = strcmp(argv[2], "query") == 0 ? MODE_QUERY : strcmp(argv[2], "enable") == 0 ? MODE_ENABLE : MODE_DISABLE;
  standin::startSession(generate(paths));
  standin::session().journalling = false;
  if (freopen("/dev/null", "w", stdout) == NULL) return 2;
  size_t before = inUse;
  peak = inUse;
  int total = walkComponents(2, NULL, NULL, mode);
  fprintf(stderr, "paths %ld total %d machine_bytes %zu walk_peak_bytes %zu\n", paths, total, before, peak - before);
  return 0;
}
