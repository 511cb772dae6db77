// A paste target that reads the clipboard exactly as Explorer pastes virtual files: the file
// group descriptor, then one "FileContents" stream per file, each released before the next,
// then the paste's outcome reported back. It runs as a process of its own, as Explorer does.
//
//   paste-target TARGET-FOLDER [--skip N] [--stop-after N] [--copy-to 1]
//
// --skip N leaves out the Nth file (from 0) yet still reports a finished paste (a consumer that
// lies);
// --stop-after N stops after N files without reporting anything (a cancelled paste);
// --copy-to 1 copies each stream with CopyTo for the descriptor's size and keeps whatever came,
// short or not, as a shell that trusts the descriptor does.
// Exits with the effect it reported (1 copy, 2 move; 0 when it reported nothing), plus 16 when
// the clipboard would not pass the report on (Wine's does not) so that the caller must; 100 when
// a file did not arrive with its announced size; 101 when a descriptor names a path that would
// leave the target folder (nothing is written then).
#include <windows.h>

#include <ole2.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

CLIPFORMAT Format(const char* name)
{
    return CLIPFORMAT(RegisterClipboardFormatA(name));
}

FORMATETC Request(CLIPFORMAT format, DWORD media = TYMED_HGLOBAL, LONG index = -1)
{
    return FORMATETC {format, nullptr, DVASPECT_CONTENT, index, media};
}

DWORD ReadDword(IDataObject& data, const char* name)
{
    FORMATETC format = Request(Format(name));
    STGMEDIUM medium = {};
    DWORD value = 0;
    if (SUCCEEDED(data.GetData(&format, &medium))) {
        if (GlobalSize(medium.hGlobal) >= sizeof value) {
            value = *static_cast<DWORD*>(GlobalLock(medium.hGlobal));
            GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
    }
    return value;
}

HRESULT SetDword(IDataObject& data, const char* name, DWORD value)
{
    FORMATETC format = Request(Format(name));
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, sizeof value);
    *static_cast<DWORD*>(GlobalLock(medium.hGlobal)) = value;
    GlobalUnlock(medium.hGlobal);
    const HRESULT hr = data.SetData(&format, &medium, TRUE);
    if (FAILED(hr))
        ReleaseStgMedium(&medium);
    return hr;
}

// The descriptors, checked against the block's size.
bool ReadDescriptors(IDataObject& data, std::vector<FILEDESCRIPTORA>& descriptors)
{
    FORMATETC format = Request(Format("FileGroupDescriptor"));
    STGMEDIUM medium = {};
    if (FAILED(data.GetData(&format, &medium)))
        return false;
    const SIZE_T size = GlobalSize(medium.hGlobal);
    const auto* group = static_cast<const FILEGROUPDESCRIPTORA*>(GlobalLock(medium.hGlobal));
    bool ok = group && size >= sizeof(UINT) &&
              size >= sizeof(UINT) + SIZE_T(group->cItems) * sizeof(FILEDESCRIPTORA);
    if (ok)
        descriptors.assign(group->fgd, group->fgd + group->cItems);
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return ok;
}

bool CopyFile(IDataObject& data, LONG index, const FILEDESCRIPTORA& descriptor,
              const std::string& path, bool copyTo)
{
    FORMATETC format = Request(Format("FileContents"), TYMED_ISTREAM, index);
    STGMEDIUM medium = {};
    const HRESULT got = data.GetData(&format, &medium);
    if (FAILED(got)) {
        std::printf("no stream for %s: 0x%08lx\n", descriptor.cFileName, got);
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::vector<char> buffer(65536);
    ULONGLONG written = 0;
    HRESULT hr = S_OK;
    IStream* memory = nullptr;
    if (copyTo && file != INVALID_HANDLE_VALUE &&
        SUCCEEDED(hr = CreateStreamOnHGlobal(nullptr, TRUE, &memory))) {
        ULARGE_INTEGER announced, read = {}, put = {};
        announced.QuadPart = (ULONGLONG(descriptor.nFileSizeHigh) << 32) | descriptor.nFileSizeLow;
        hr = medium.pstm->CopyTo(memory, announced, &read, &put);
        HGLOBAL block = nullptr;
        GetHGlobalFromStream(memory, &block);
        DWORD wrote = 0;
        WriteFile(file, GlobalLock(block), DWORD(put.QuadPart), &wrote, nullptr);
        GlobalUnlock(block);
        memory->Release();
        ReleaseStgMedium(&medium);
        CloseHandle(file);
        return SUCCEEDED(hr);
    }
    while (file != INVALID_HANDLE_VALUE) {
        ULONG read = 0;
        hr = medium.pstm->Read(buffer.data(), ULONG(buffer.size()), &read);
        DWORD put = 0;
        if (read > 0)
            WriteFile(file, buffer.data(), read, &put, nullptr);
        written += put;
        if (FAILED(hr) || read == 0)
            break;
    }
    ReleaseStgMedium(&medium);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    const ULONGLONG size = (ULONGLONG(descriptor.nFileSizeHigh) << 32) | descriptor.nFileSizeLow;
    if (FAILED(hr) || written != size) {
        std::printf("short %s: %llu of %llu (0x%08lx)\n", descriptor.cFileName, written, size, hr);
        return false;
    }
    return true;
}

// A name joined to the target stays below it: relative, no drive or stream, no empty, "." or
// ".." component, no control character, no component Windows would trim.
bool StaysInside(const std::string& name)
{
    size_t start = 0;
    while (true) {
        const size_t end = std::min(name.find('\\', start), name.size());
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.back() == '.' ||
            part.back() == ' ')
            return false;
        for (char c : part)
            if (c == ':' || static_cast<unsigned char>(c) < 0x20)
                return false;
        if (end == name.size())
            return true;
        start = end + 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: paste-target TARGET-FOLDER [--skip N] [--stop-after N]\n");
        return 2;
    }
    const std::string target = argv[1];
    long skip = -1, stopAfter = -1, copyTo = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--skip") == 0)
            skip = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--stop-after") == 0)
            stopAfter = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--copy-to") == 0)
            copyTo = std::atol(argv[i + 1]);
    }
    OleInitialize(nullptr);
    IDataObject* data = nullptr;
    if (FAILED(OleGetClipboard(&data)) || !data) {
        std::printf("nothing on the clipboard\n");
        return 1;
    }
    const DWORD preferred = ReadDword(*data, "Preferred DropEffect");
    std::vector<FILEDESCRIPTORA> descriptors;
    bool ok = ReadDescriptors(*data, descriptors);
    for (const FILEDESCRIPTORA& descriptor : descriptors) {
        if (!StaysInside(descriptor.cFileName)) {
            std::printf("a name leaves the folder: \"%s\"\n", descriptor.cFileName);
            data->Release();
            return 101;
        }
    }
    long files = 0;
    for (size_t i = 0; ok && i < descriptors.size(); ++i) {
        const FILEDESCRIPTORA& descriptor = descriptors[i];
        const std::string path = target + "\\" + descriptor.cFileName;
        if (descriptor.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CreateDirectoryA(path.c_str(), nullptr);
            continue;
        }
        if (stopAfter >= 0 && files == stopAfter)
            break;
        if (files++ == skip)
            continue;
        ok = CopyFile(*data, LONG(i), descriptor, path, copyTo != 0);
    }
    const bool stopped = stopAfter >= 0 && files == stopAfter && ok;
    int result = ok ? 0 : 100;
    if (ok && !stopped) {
        // What Explorer reports when it has pasted files it could not move itself.
        const DWORD done = (preferred & DROPEFFECT_MOVE) ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
        const HRESULT performed = SetDword(*data, "Performed DropEffect", done);
        const HRESULT succeeded = SetDword(*data, "Paste Succeeded", done);
        result = int(done) + (FAILED(performed) || FAILED(succeeded) ? 16 : 0);
    }
    std::printf("%zu entries, %ld files%s\n", descriptors.size(), files, stopped ? ", stopped" : "");
    data->Release();
    OleUninitialize();
    return result;
}
