#include "workflow/SmallFile.h"

#include <cerrno>
#include <fstream>
#include <iterator>

namespace tavrin::Workflow {

SmallFile readSmallFile(const std::filesystem::path& path, std::uintmax_t largest) {
    SmallFile file;
    if (std::filesystem::is_directory(path, file.error))
        file.error = std::make_error_code(std::errc::is_a_directory);
    else if (!file.error && std::filesystem::file_size(path, file.error) > largest && !file.error) {
        file.tooLarge = true;
        return file;
    }
    if (file.error)
        return file;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.error = {errno ? errno : EIO, std::generic_category()};
        return file;
    }
    file.text.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad())
        file.error = std::make_error_code(std::errc::io_error);
    return file;
}

} // namespace tavrin::Workflow
