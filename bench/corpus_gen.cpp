// Writes the deterministic benchmark trees; see bench/corpus.h.
//
//   corpus_gen --preset small|large|mixed --seed N --out DIR [--stats]
//   corpus_gen --touch FRACTION --seed N --out DIR [--stats]
#include <iostream>
#include <string>
#include <vector>

#include "bench/corpus.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return corvane::bench::RunCorpusCli(args, std::cout, std::cerr);
}
