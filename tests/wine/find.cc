// Windows' find, as far as the README's cmd examples use it, for Wine's cmd:
// Wine 8's find has no /i. usage: find [/i] "TEXT" FILE... Prints the lines
// that hold TEXT (without regard to case with /i), and exits 0 when a line
// did, 1 when none did, 2 on a usage error or a file it cannot read.
#include <stdio.h>
#include <string.h>

#include <string>

static std::string folded(std::string text, bool ignoreCase) {
  if (ignoreCase)
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return text;
}

int main(int argc, char** argv) {
  int i = 1;
  bool ignoreCase = false;
  if (i < argc && (strcmp(argv[i], "/i") == 0 || strcmp(argv[i], "/I") == 0)) {
    ignoreCase = true;
    i++;
  }
  if (i + 1 >= argc) return 2;
  std::string wanted = folded(argv[i++], ignoreCase);
  bool found = false;
  for (; i < argc; i++) {
    FILE* file = fopen(argv[i], "rb");
    if (file == NULL) return 2;
    char line[4096];
    while (fgets(line, sizeof line, file) != NULL) {
      if (folded(line, ignoreCase).find(wanted) == std::string::npos) continue;
      fputs(line, stdout);
      found = true;
    }
    fclose(file);
  }
  return found ? 0 : 1;
}
