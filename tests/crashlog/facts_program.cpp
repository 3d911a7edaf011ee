// Runs the first library's failure with both libraries loaded; the report goes to the
// folder of the first argument.
extern "C" void FactsAConfigure(const char* folder);
extern "C" void FactsAFailWhileHandling();
extern "C" bool FactsBActive();

int main(int argc, char** argv) {
  if (argc < 2 || !FactsBActive()) return 2;
  FactsAConfigure(argv[1]);
  FactsAFailWhileHandling();
  return 0;
}
