// fscanf-convert: the baseline the benchmark measures mapforge against, a
// straightforward port that reads each grid value with its own fscanf("%7d")
// call and writes the samples big-endian after a data file header of the same
// size. Not a converter for use: it skips the comment block unread.
// Usage: fscanf-convert input output
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage:  fscanf-convert input output\n");
        return 1;
    }
    std::FILE* in = std::fopen(argv[1], "r");
    if (!in) return 2;
    char line[512];
    int width = 0, height = 0, nda = -32768;
    while (std::fgets(line, sizeof line, in))
        if (std::sscanf(line, "GRD %d %d", &width, &height) == 2) {
            if (const char* p = std::strstr(line, "NDA")) std::sscanf(p + 3, "%d", &nda);
            break;
        }
    if (width <= 0 || height <= 0) return 2;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 3;
    std::vector<unsigned char> header(834, 0);
    std::fwrite(header.data(), 1, header.size(), out);
    std::vector<unsigned char> block(4 * 65536);
    const long count = static_cast<long>(width) * height;
    size_t used = 0;
    for (long i = 0; i < count; ++i) {
        int v = 0;
        if (std::fscanf(in, "%7d", &v) != 1) return 4;
        const auto u = static_cast<uint32_t>(v == nda ? 0x7FFFFFF8 : v);
        block[used++] = static_cast<unsigned char>(u >> 24);
        block[used++] = static_cast<unsigned char>(u >> 16);
        block[used++] = static_cast<unsigned char>(u >> 8);
        block[used++] = static_cast<unsigned char>(u);
        if (used == block.size()) {
            std::fwrite(block.data(), 1, used, out);
            used = 0;
        }
    }
    std::fwrite(block.data(), 1, used, out);
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 3;
}
