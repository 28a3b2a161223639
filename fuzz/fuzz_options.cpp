// Feeds the player's option text from random bytes: the executable's option
// string, the command line and the "VemoQuickPlay" profile entry, built and
// parsed as the player does, then every name resolved and the output size
// computed. The POSIX command line is built from the same bytes cut into
// arguments. Checks that a parse either fails with a message or leaves a
// non-empty list of non-empty names, and that nothing reads out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "options.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// The next part of the input up to a NUL byte (or the end).
std::string_view TakePart(std::string_view* rest) {
    const size_t end = rest->find('\0');
    const std::string_view part = rest->substr(0, end);
    *rest = end == std::string_view::npos ? std::string_view{} : rest->substr(end + 1);
    return part;
}

void CheckResult(const vemo::player::OptionResult& r, uint8_t shape) {
    using vemo::player::OptionStatus;
    if (r.status != OptionStatus::kOk) {
        Check(!r.message.empty());
        return;
    }
    Check(r.movies.size() > 0);
    const vemo::player::PlayerOptions& o = r.options;
    for (const std::string& name : r.movies.names()) {
        Check(!name.empty());
        vemo::player::MovieSource source;
        std::string error;
        if (!vemo::player::ResolveMovieName(name, shape & 1 ? "/bin/player" : "", &source, &error))
            Check(!error.empty());
    }
    vemo::player::OpenSettingsFor(o);
    const int32_t movie_width = 16 + (shape >> 1) * 4, movie_height = 16 + (shape >> 3) * 8;
    const auto size = vemo::player::ComputeOutputSize(o, movie_width, movie_height, shape & 7,
                                                      o.screen_width, o.screen_height);
    Check(size.width >= 0 && size.height >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t shape = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    vemo::player::OptionInput input;
    input.resource = std::string(TakePart(&rest));
    input.command_line = std::string(TakePart(&rest));
    const std::string quick(TakePart(&rest));
    input.quick_play = [&quick] { return quick; };
    input.screen_saver = (shape & 0x80) != 0;
    input.screen_width = shape & 0x40 ? 640 : 1920;
    input.screen_height = shape & 0x40 ? 480 : 1080;
    CheckResult(vemo::player::BuildPlayerOptions(input), shape);

    // The same command line cut at spaces into POSIX arguments; a path
    // "exists" when its length is even.
    std::vector<std::string> arguments;
    std::string_view line = input.command_line;
    while (!line.empty()) {
        const size_t space = line.find(' ');
        arguments.emplace_back(line.substr(0, space));
        line = space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
    }
    input.command_line = vemo::player::PosixCommandLine(
        arguments, [](const std::string& path) { return path.size() % 2 == 0; });
    const auto posix = vemo::player::BuildPlayerOptions(input);
    CheckResult(posix, shape);
    const vemo::player::MovieList restored = vemo::player::RestoreSlashes(posix.movies);
    Check(restored.size() == posix.movies.size());
    for (const std::string& name : restored.names())
        Check(name.find(vemo::player::kSlashStandIn) == std::string::npos);
    return 0;
}
