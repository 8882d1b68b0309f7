#include "tools/standin_player/WavFile.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace standin {
namespace {

constexpr std::uint16_t FormatPcm = 1;
constexpr std::uint16_t FormatExtensible = 0xFFFE;
// The KSDATAFORMAT_SUBTYPE_PCM GUID as it lies in the file.
constexpr unsigned char PcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void PutLe32(std::vector<char>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void PutLe16(std::vector<char>& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}
void PutTag(std::vector<char>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

bool ReadExactly(std::FILE* file, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, file) == size;
}

PcmFormat ParseFormatChunk(const std::vector<unsigned char>& chunk) {
    if (chunk.size() < 16)
        throw WavError("the fmt chunk is shorter than 16 bytes");
    std::uint16_t tag = Le16(&chunk[0]);
    PcmFormat format;
    format.channels = Le16(&chunk[2]);
    format.sampleRate = static_cast<int>(Le32(&chunk[4]));
    format.bitsPerSample = Le16(&chunk[14]);
    const std::uint16_t blockAlign = Le16(&chunk[12]);
    if (tag == FormatExtensible) {
        if (chunk.size() < 40)
            throw WavError("the extensible fmt chunk is shorter than 40 bytes");
        if (std::memcmp(&chunk[24], PcmSubformat, sizeof PcmSubformat) != 0)
            throw WavError("the extensible format's subformat is not PCM");
        tag = FormatPcm;
    }
    if (tag != FormatPcm)
        throw WavError("format tag " + std::to_string(tag) + " is not integer PCM");
    if (!IsSupportedFormat(format))
        throw WavError("unsupported PCM layout: " + std::to_string(format.bitsPerSample) +
                       " bits, " + std::to_string(format.channels) + " channels, " +
                       std::to_string(format.sampleRate) + " Hz");
    if (blockAlign != format.BytesPerFrame())
        throw WavError("block align " + std::to_string(blockAlign) + " does not match " +
                       std::to_string(format.BytesPerFrame()) + " bytes per frame");
    return format;
}

std::vector<unsigned char> ReadChunkBody(std::FILE* file, std::uint32_t size) {
    std::vector<unsigned char> body(size);
    if (size > 0 && !ReadExactly(file, body.data(), size))
        throw WavError("the file ends inside a chunk");
    return body;
}

} // namespace

PcmAudio ReadWavFile(const std::string& path) {
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw WavError("cannot open the file");
    std::fseek(file.get(), 0, SEEK_END);
    const long fileSize = std::ftell(file.get());
    std::fseek(file.get(), 0, SEEK_SET);
    unsigned char header[12];
    if (!ReadExactly(file.get(), header, sizeof header) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        throw WavError("not a RIFF/WAVE file");

    PcmAudio audio;
    bool haveFormat = false;
    for (;;) {
        unsigned char chunkHeader[8];
        if (!ReadExactly(file.get(), chunkHeader, sizeof chunkHeader))
            throw WavError(haveFormat ? "no data chunk" : "no fmt chunk");
        const std::uint32_t size = Le32(chunkHeader + 4);
        if (std::memcmp(chunkHeader, "fmt ", 4) == 0) {
            audio.format = ParseFormatChunk(ReadChunkBody(file.get(), size));
            haveFormat = true;
        } else if (std::memcmp(chunkHeader, "data", 4) == 0) {
            if (!haveFormat)
                throw WavError("the data chunk comes before the fmt chunk");
            // Streamed files leave the size at its maximum: take what is there.
            const long here = std::ftell(file.get());
            std::uint32_t wanted = size;
            if (here >= 0 && fileSize >= here &&
                static_cast<std::uint64_t>(fileSize - here) < wanted)
                wanted = static_cast<std::uint32_t>(fileSize - here);
            audio.data.resize(wanted);
            const std::size_t got = std::fread(audio.data.data(), 1, wanted, file.get());
            audio.data.resize(got - got % static_cast<std::size_t>(audio.format.BytesPerFrame()));
            return audio;
        } else if (std::fseek(file.get(), static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            throw WavError("the file ends inside a chunk");
        }
        // Chunks are padded to an even length.
        if ((size & 1) != 0 && std::memcmp(chunkHeader, "fmt ", 4) == 0)
            std::fgetc(file.get());
    }
}

void WriteWavFile(const std::string& path, const PcmAudio& audio) {
    const PcmFormat& format = audio.format;
    const bool extensible = format.channels > 2 || format.bitsPerSample > 16;
    std::vector<char> out;
    PutTag(out, "RIFF");
    PutLe32(out, 0); // patched below
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutLe32(out, extensible ? 40 : 16);
    PutLe16(out, extensible ? FormatExtensible : FormatPcm);
    PutLe16(out, static_cast<std::uint16_t>(format.channels));
    PutLe32(out, static_cast<std::uint32_t>(format.sampleRate));
    PutLe32(out, static_cast<std::uint32_t>(format.BytesPerSecond()));
    PutLe16(out, static_cast<std::uint16_t>(format.BytesPerFrame()));
    PutLe16(out, static_cast<std::uint16_t>(format.bitsPerSample));
    if (extensible) {
        PutLe16(out, 22);
        PutLe16(out, static_cast<std::uint16_t>(format.bitsPerSample));
        PutLe32(out, 0); // no speaker positions claimed
        out.insert(out.end(), std::begin(PcmSubformat), std::end(PcmSubformat));
    }
    PutTag(out, "data");
    PutLe32(out, static_cast<std::uint32_t>(audio.data.size()));
    out.insert(out.end(), audio.data.begin(), audio.data.end());
    if ((audio.data.size() & 1) != 0)
        out.push_back(0);
    const std::uint32_t riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<char>((riffSize >> (8 * i)) & 0xFF);

    const File file(std::fopen(path.c_str(), "wb"));
    if (!file || std::fwrite(out.data(), 1, out.size(), file.get()) != out.size())
        throw WavError("cannot write the file");
}

} // namespace standin
