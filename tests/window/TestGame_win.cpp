// Stands in for the game: records beside itself that it ran, and in which current folder.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char program[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string record(program);
    record = record.substr(0, record.find_last_of('\\') + 1) + "game-ran.txt";
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    if (std::FILE* file = std::fopen(record.c_str(), "wb")) {
        std::fprintf(file, "ran\n%s\n", folder);
        std::fclose(file);
    }
    return 0;
}
