// A stand-in updater executable for the pack tests: it runs, reads the package behind its own file and prints the
// payload's length (0 without one); status 0, or 2 when its own file cannot be read.
#include "package/embedded.h"

#include <exception>
#include <iostream>

int main()
{
    ABytes P;
    try {
        ReadEmbeddedPackage(P);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 2;
    }
    std::cout << P.size() << '\n';
    return 0;
}
