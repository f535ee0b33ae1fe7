// The ordinary test run's driver of a fuzz target: every input of the corpus folder it is given is
// run once through the target's entry point, so that `make test` replays each corpus with the
// ordinary compiler. A failing check inside the target aborts, which fails the test.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    int inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string input{std::istreambuf_iterator<char>(file), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
        ++inputs;
    }
    std::printf("%d inputs replayed from %s\n", inputs, argv[1]);
    return inputs > 0 ? 0 : 1;
}
