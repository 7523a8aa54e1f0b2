// Stands in for a web browser in the home page link test: appends its own command line to the
// file named by ORYN_RECORD_FILE.
#include <windows.h>

#include <cstdio>

int main()
{
    char path[MAX_PATH];
    if (GetEnvironmentVariableA("ORYN_RECORD_FILE", path, MAX_PATH) == 0)
        return 1;
    FILE* file = std::fopen(path, "a");
    if (file == nullptr)
        return 1;
    std::fprintf(file, "%s\n", GetCommandLineA());
    std::fclose(file);
    return 0;
}
