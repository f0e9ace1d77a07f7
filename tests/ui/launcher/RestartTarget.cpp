// Stands in for the program that the launcher restarts. Each start appends a line with its
// process id and arguments to "starts.txt" beside the executable; with "--hold" it then runs
// until its standard input is closed.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    {
        std::ofstream starts(folder / "starts.txt", std::ios::app);
        starts << ::getpid();
        for (int i = 1; i < argc; ++i) {
            starts << ' ' << argv[i];
        }
        starts << '\n';
    }
    if (argc > 1 && std::strcmp(argv[1], "--hold") == 0) {
        std::cout << "holding" << std::endl;
        std::string ignored;
        while (std::getline(std::cin, ignored)) {
        }
    }
    return 0;
}
