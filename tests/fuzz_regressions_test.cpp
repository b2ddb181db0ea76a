// Inputs that once broke the codec, saved under fuzz/regressions/<target>/,
// and the fuzz seeds, replayed through the fuzz targets' own entry functions.
// A fault aborts the program or trips the sanitizers of the debug build.
#include "fuzz/targets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef TARV_FUZZ_REGRESSIONS
#error "TARV_FUZZ_REGRESSIONS must name the folder of saved fuzz inputs"
#endif

namespace {

namespace fs = std::filesystem;

const tarv_fuzz::TargetEntry* FindTarget(const std::string& name)
{
    const auto targets = tarv_fuzz::AllTargets();
    const auto it = std::find_if(targets.begin(), targets.end(),
                                 [&](const tarv_fuzz::TargetEntry& t) { return t.name == name; });
    return it == targets.end() ? nullptr : &*it;
}

std::vector<uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

TEST(FuzzRegressions, EverySavedInputReplaysThroughItsTarget)
{
    const fs::path root(TARV_FUZZ_REGRESSIONS);
    ASSERT_TRUE(fs::is_directory(root)) << root;
    size_t replayed = 0;
    for (const fs::directory_entry& folder : fs::directory_iterator(root)) {
        // A folder that names no target would never be replayed.
        const tarv_fuzz::TargetEntry* target = FindTarget(folder.path().filename().string());
        ASSERT_NE(target, nullptr) << folder.path() << " is not a fuzz target's name";
        for (const fs::directory_entry& file : fs::directory_iterator(folder.path())) {
            SCOPED_TRACE(file.path().string());
            const std::vector<uint8_t> input = ReadFile(file.path());
            EXPECT_EQ(target->run(input.data(), input.size()), 0);
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u) << "nothing to replay under " << root;
}

TEST(FuzzRegressions, SeedsReplayThroughTheirTargets)
{
    const std::vector<tarv_fuzz::Seed> seeds = tarv_fuzz::MakeSeeds();
    for (const tarv_fuzz::TargetEntry& target : tarv_fuzz::AllTargets()) {
        EXPECT_TRUE(std::any_of(seeds.begin(), seeds.end(),
                                [&](const tarv_fuzz::Seed& s) { return s.target == target.name; }))
            << target.name << " has no seed";
    }
    for (const tarv_fuzz::Seed& seed : seeds) {
        SCOPED_TRACE(seed.target + "/" + seed.name);
        const tarv_fuzz::TargetEntry* target = FindTarget(seed.target);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->run(seed.bytes.data(), seed.bytes.size()), 0);
    }
}

} // namespace
