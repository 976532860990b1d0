// A program that does nothing, built as ferrule.exe is: the floor of any
// process under Wine.
int main() {
  return 0;
}
