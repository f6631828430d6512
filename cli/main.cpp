#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("usage: ocumbra-sim fixindep|fixdep|glare|convert [options] INPUT OUTPUT");
        return 0;
    }
    std::fputs("ocumbra-sim: no simulation is available yet\n", stderr);
    return 1;
}
