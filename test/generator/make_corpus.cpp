// Writes generated raw SMBIOS blocks as files, one per seed: the fuzzer's seed
// corpus and a supply of tables for looking at by hand.
//
//   raminfo_make_corpus DIR [COUNT] [FIRST_SEED]
//
// Even seeds give well-formed tables, odd seeds hostile ones.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "generator.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s DIR [COUNT] [FIRST_SEED]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const unsigned long count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 32;
  const unsigned long long first = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
  for (unsigned long i = 0; i < count; ++i) {
    const uint64_t seed = first + i;
    raminfo_gen::GeneratorOptions options;
    const bool hostile = seed % 2 == 1;
    if (hostile) options.mode = raminfo_gen::Mode::hostile;
    const raminfo_gen::Bytes block = raminfo_gen::generate_block(seed, options);
    const std::string path =
        dir + "/" + (hostile ? "hostile-" : "wellformed-") + std::to_string(seed) + ".rsmb";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
