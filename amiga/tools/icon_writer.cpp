// Writes the Workbench icons that go with Drovemark: a DiskObject as icon.library reads it from a
// ".info" file, with a four-colour image of our own and no second image (Workbench inverts it
// when selected), so that Kickstart 1.2 reads it as well as 3.x.
//   icon-writer tool OUTPUT STACK TOOLTYPE...     the program's icon, its stack and tool types
//   icon-writer project OUTPUT DEFAULTTOOL        a document opened by DEFAULTTOOL
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kMagic = 0xE310, kVersion = 1;
constexpr uint8_t kTool = 3, kProject = 4;
constexpr uint16_t kGadgImage = 0x0004, kRelVerify = 0x0001, kGadgImmediate = 0x0002,
                   kBoolGadget = 0x0001;
constexpr uint32_t kNoPosition = 0x80000000;
// Stored pointers only say whether something follows; any non-zero value does.
constexpr uint32_t kPresent = 1;

// '.' is pen 0 (the background), '1' to '3' the Workbench's other three pens.
const std::vector<std::string> kProgramImage = {
    "...............................................",
    "...1111111111111111111111111111111111111111....",
    "...1222222222222222222222222222222222222221....",
    "...1233333333333333233333333333333333333321....",
    "...1233333333333333233333333333333333333321....",
    "...1233222222223333233332222222233333333321....",
    "...1233211111123333233332111111233333333321....",
    "...1233211111123333233332111111233333333321....",
    "...1233222222223333233332222222233333333321....",
    "...1233333333333333233333333333333333333321....",
    "...1222222222222222222222222222222222222221....",
    "...1111111111111121111111111211111111111111....",
    "................121.........121................",
    "..........3.....121.........121.....3..........",
    ".........33.....121.........121.....33.........",
    "........333333333333333333333333333333.........",
    ".......3333333333333333333333333333333.........",
    "........333333333333333333333333333333.........",
    ".........33.........................33.........",
    "..........3.........................3..........",
    "...............................................",
};

const std::vector<std::string> kTextImage = {
    "..........................",
    "...11111111111111111......",
    "...122222222222222121.....",
    "...1222222222222221221....",
    "...12233333333222212221...",
    "...12222222222222211111...",
    "...122333333333333333221..",
    "...122222222222222222221..",
    "...122333333333333322221..",
    "...122222222222222222221..",
    "...122333333333333333221..",
    "...122222222222222222221..",
    "...122333333333322222221..",
    "...122222222222222222221..",
    "...122333333333333333221..",
    "...122222222222222222221..",
    "...111111111111111111111..",
    "..........................",
};

void Put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    Put16(out, value >> 16);
    Put16(out, value);
}

// A text as the icon file stores one: its length with the terminator, then the bytes.
void PutText(std::vector<uint8_t>& out, const std::string& text)
{
    Put32(out, uint32_t(text.size() + 1));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

struct Picture {
    uint16_t width = 0, height = 0;
    std::vector<uint8_t> planes;  // two bit planes, each row padded to whole words
};

Picture Planar(const std::vector<std::string>& rows)
{
    Picture picture;
    picture.height = uint16_t(rows.size());
    for (const std::string& row : rows)
        picture.width = std::max(picture.width, uint16_t(row.size()));
    const size_t rowBytes = (picture.width + 15u) / 16u * 2u;
    picture.planes.assign(2 * rowBytes * picture.height, 0);
    for (size_t plane = 0; plane < 2; ++plane) {
        for (size_t y = 0; y < rows.size(); ++y) {
            for (size_t x = 0; x < rows[y].size(); ++x) {
                const char c = rows[y][x];
                const unsigned pen = c >= '1' && c <= '3' ? unsigned(c - '0') : 0;
                if (pen >> plane & 1)
                    picture.planes[(plane * picture.height + y) * rowBytes + x / 8] |=
                        uint8_t(0x80 >> (x % 8));
            }
        }
    }
    return picture;
}

std::vector<uint8_t> DiskObject(uint8_t type, const Picture& picture,
                                const std::string& defaultTool,
                                const std::vector<std::string>& toolTypes, uint32_t stack)
{
    std::vector<uint8_t> out;
    Put16(out, kMagic);
    Put16(out, kVersion);
    // The Gadget: its select box is the image.
    Put32(out, 0);  // NextGadget
    Put16(out, 0);  // LeftEdge
    Put16(out, 0);  // TopEdge
    Put16(out, picture.width);
    Put16(out, picture.height);
    Put16(out, kGadgImage);
    Put16(out, kRelVerify | kGadgImmediate);
    Put16(out, kBoolGadget);
    Put32(out, kPresent);  // GadgetRender: the image follows
    Put32(out, 0);         // SelectRender: none
    Put32(out, 0);         // GadgetText
    Put32(out, 0);         // MutualExclude
    Put32(out, 0);         // SpecialInfo
    Put16(out, 0);         // GadgetID
    Put32(out, 0);         // UserData: an icon any Workbench reads
    out.push_back(type);
    out.push_back(0);
    Put32(out, defaultTool.empty() ? 0 : kPresent);
    Put32(out, toolTypes.empty() ? 0 : kPresent);
    Put32(out, kNoPosition);
    Put32(out, kNoPosition);
    Put32(out, 0);  // DrawerData: not a drawer
    Put32(out, 0);  // ToolWindow
    Put32(out, stack);
    // The Image, then its planes.
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, picture.width);
    Put16(out, picture.height);
    Put16(out, 2);  // depth
    Put32(out, kPresent);
    out.push_back(3);  // PlanePick: both planes stored
    out.push_back(0);  // PlaneOnOff
    Put32(out, 0);     // NextImage
    out.insert(out.end(), picture.planes.begin(), picture.planes.end());
    if (!defaultTool.empty())
        PutText(out, defaultTool);
    if (!toolTypes.empty()) {
        Put32(out, uint32_t(toolTypes.size() + 1) * 4);
        for (const std::string& toolType : toolTypes)
            PutText(out, toolType);
    }
    return out;
}

int Usage()
{
    std::fprintf(stderr, "usage: icon-writer tool OUTPUT STACK TOOLTYPE...\n"
                         "       icon-writer project OUTPUT DEFAULTTOOL\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    const std::string kind = argv[1], output = argv[2];
    std::vector<uint8_t> icon;
    if (kind == "tool") {
        char* end = nullptr;
        const unsigned long stack = std::strtoul(argv[3], &end, 10);
        if (*end || stack < 4000 || stack > 1000000)
            return Usage();
        icon = DiskObject(kTool, Planar(kProgramImage), "",
                          std::vector<std::string>(argv + 4, argv + argc), uint32_t(stack));
    } else if (kind == "project" && argc == 4) {
        icon = DiskObject(kProject, Planar(kTextImage), argv[3], {}, 4096);
    } else {
        return Usage();
    }
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(icon.data()), std::streamsize(icon.size()));
    if (!file.flush()) {
        std::fprintf(stderr, "icon-writer: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
