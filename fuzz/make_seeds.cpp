// Writes every target's seeds as DIR/<target>/<name>: the fuzz build runs it
// to lay out the starting corpora.
#include "fuzz/targets.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    for (const tarv_fuzz::Seed& seed : tarv_fuzz::MakeSeeds()) {
        const std::filesystem::path folder = root / seed.target;
        std::filesystem::create_directories(folder);
        std::ofstream file(folder / seed.name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(seed.bytes.data()),
                   static_cast<std::streamsize>(seed.bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", (folder / seed.name).c_str());
            return 1;
        }
    }
    return 0;
}
