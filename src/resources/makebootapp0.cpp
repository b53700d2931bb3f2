// Writes boot_app0.bin: the OTA data partition of an Arduino ESP32 build, which tells the
// bootloader to start the application in the first app slot (0x10000).
//
// Two 4 KiB sectors, erased (0xFF) but for one esp_ota_select_entry_t at the start of the
// first: ota_seq = 1, a 20-byte label of 0xFF, ota_state 0xFFFFFFFF, then the CRC-32 of the
// four bytes of ota_seq as the ROM's crc32_le computes it with seed 0xFFFFFFFF (the same as
// zlib's crc32(data, 0xFFFFFFFF)), stored little-endian.
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>

namespace {
std::uint32_t crc32Le(std::uint32_t crc, const std::uint8_t *data, std::size_t size)
{
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putLe32(std::uint8_t *at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: makebootapp0 OUTPUT\n", stderr);
        return 2;
    }
    std::array<std::uint8_t, 2 * 4096> image;
    image.fill(0xFF);
    constexpr std::uint32_t otaSeq = 1;
    putLe32(&image[0], otaSeq);                              // ota_seq; label and ota_state stay 0xFF
    putLe32(&image[28], crc32Le(0xFFFFFFFFu, &image[0], 4)); // crc over ota_seq
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
    return out.good() ? 0 : 1;
}
