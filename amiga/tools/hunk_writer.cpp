// Turns the linked m68k ELF file (linked with -q, so that its absolute relocations are kept) into
// an AmigaOS executable: one code hunk with its 32-bit relocations, one BSS hunk.
//   hunk-writer input.elf output
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kHunkHeader = 0x3F3, kHunkCode = 0x3E9, kHunkReloc32 = 0x3EC,
                   kHunkBss = 0x3EB, kHunkEnd = 0x3F2;
constexpr uint32_t kR68k32 = 1, kR68kPc32 = 4, kR68kPc16 = 5, kR68kPc8 = 6;
constexpr uint32_t kShtRela = 4, kShtNobits = 8;

struct Elf {
    std::vector<uint8_t> bytes;
    uint32_t U32(size_t at) const
    {
        if (at + 4 > bytes.size())
            throw std::string("truncated ELF file");
        return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
               uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    }
    uint16_t U16(size_t at) const
    {
        if (at + 2 > bytes.size())
            throw std::string("truncated ELF file");
        return uint16_t(bytes[at] << 8 | bytes[at + 1]);
    }
};

struct Section {
    std::string name;
    uint32_t type, address, offset, size, info;
};

void Put(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

std::vector<uint8_t> Convert(const Elf& elf)
{
    if (elf.bytes.size() < 52 || elf.bytes[0] != 0x7F || elf.bytes[4] != 1 || elf.bytes[5] != 2 ||
        elf.U16(18) != 4)
        throw std::string("not a 32-bit big-endian m68k ELF file");
    const uint32_t shoff = elf.U32(32);
    const uint16_t shentsize = elf.U16(46), shnum = elf.U16(48), shstrndx = elf.U16(50);
    std::vector<Section> sections;
    for (uint16_t i = 0; i < shnum; ++i) {
        const size_t at = shoff + size_t(i) * shentsize;
        sections.push_back({std::to_string(elf.U32(at)), elf.U32(at + 4), elf.U32(at + 12),
                            elf.U32(at + 16), elf.U32(at + 20), elf.U32(at + 28)});
    }
    const uint32_t names = sections.at(shstrndx).offset;
    for (Section& s : sections)
        s.name = reinterpret_cast<const char*>(elf.bytes.data() + names + std::stoul(s.name));

    const Section* text = nullptr;
    const Section* bss = nullptr;
    for (const Section& s : sections) {
        if (s.name == ".text")
            text = &s;
        else if (s.name == ".bss")
            bss = &s;
        else if ((s.name == ".data" || s.name == ".rodata") && s.size)
            throw std::string("section " + s.name + " outside .text: check the linker script");
    }
    if (!text || text->address != 0 || text->offset + text->size > elf.bytes.size())
        throw std::string("no .text section at address 0");
    const uint32_t bssStart = bss ? bss->address : (text->size + 3) & ~3u;
    const uint32_t bssSize = bss ? bss->size : 0;
    if (bss && bss->type != kShtNobits)
        throw std::string(".bss is not empty space");
    if (bssStart < text->size)
        throw std::string(".bss overlaps .text");

    std::vector<uint8_t> code(elf.bytes.begin() + text->offset,
                              elf.bytes.begin() + text->offset + text->size);
    code.resize((code.size() + 3) & ~size_t(3), 0);
    std::vector<uint32_t> toCode, toBss;
    for (const Section& s : sections) {
        if (s.type != kShtRela || sections.at(s.info).name != ".text")
            continue;
        for (uint32_t r = 0; r + 12 <= s.size; r += 12) {
            const uint32_t where = elf.U32(s.offset + r);
            const uint32_t type = elf.U32(s.offset + r + 4) & 0xFF;
            if (type == kR68kPc32 || type == kR68kPc16 || type == kR68kPc8)
                continue;  // resolved by the linker
            if (type != kR68k32)
                throw std::string("relocation type ") + std::to_string(type) + " has no hunk form";
            if (where + 4 > text->size)
                throw std::string("relocation outside the code");
            const uint32_t value = uint32_t(code[where]) << 24 | uint32_t(code[where + 1]) << 16 |
                                   uint32_t(code[where + 2]) << 8 | code[where + 3];
            if (value >= bssStart) {
                if (value > bssStart + bssSize)
                    throw std::string("relocation beyond the BSS");
                const uint32_t offset = value - bssStart;
                for (int i = 0; i < 4; ++i)
                    code[where + i] = uint8_t(offset >> (24 - 8 * i));
                toBss.push_back(where);
            } else {
                toCode.push_back(where);
            }
        }
    }

    std::vector<uint8_t> out;
    Put(out, kHunkHeader);
    Put(out, 0);  // no resident libraries
    Put(out, 2);
    Put(out, 0);
    Put(out, 1);
    Put(out, uint32_t(code.size() / 4));
    Put(out, (bssSize + 3) / 4);
    Put(out, kHunkCode);
    Put(out, uint32_t(code.size() / 4));
    out.insert(out.end(), code.begin(), code.end());
    if (!toCode.empty() || !toBss.empty()) {
        Put(out, kHunkReloc32);
        for (const auto& [hunk, offsets] : {std::pair {0u, &toCode}, std::pair {1u, &toBss}}) {
            if (offsets->empty())
                continue;
            Put(out, uint32_t(offsets->size()));
            Put(out, hunk);
            for (uint32_t offset : *offsets)
                Put(out, offset);
        }
        Put(out, 0);
    }
    Put(out, kHunkEnd);
    Put(out, kHunkBss);
    Put(out, (bssSize + 3) / 4);
    Put(out, kHunkEnd);
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: hunk-writer input.elf output\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    Elf elf {std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    try {
        const std::vector<uint8_t> hunks = Convert(elf);
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(hunks.data()), std::streamsize(hunks.size()));
        if (!out)
            throw std::string("cannot write ") + argv[2];
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hunk-writer: %s\n", e.what());
        return 1;
    } catch (const std::string& problem) {
        std::fprintf(stderr, "hunk-writer: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}
