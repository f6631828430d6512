// ocumbra-sim convert INPUT OUTPUT: shows what the program sees in a file.
#include "cli/commands.hpp"
#include "cli/options.hpp"
#include "cli/output.hpp"

namespace ocu::cli {

int run_convert(const Args& args) {
    return run_guarded([&] {
        const Parsed p = parse_args(args, {}, 2);
        check_outputs({p.positional[1]}, {p.positional[0]});
        const AnyImage image = read_input(p.positional[0]);
        write_output(image, p.positional[1]);
        return 0;
    });
}

}  // namespace ocu::cli
