// What the whole-run benchmarks share besides their clocks: their lists on
// the command line, and the machine's load beside their figures (wall times
// mean little without it).
#ifndef BL_BENCH_REPORT_H
#define BL_BENCH_REPORT_H

#include <stdio.h>

#include <sstream>
#include <string>
#include <vector>

// "a,b,c" as its items.
inline std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> items;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) items.push_back(item);
    return items;
}

// `mark` starts the line (a comment mark for output read as a table).
inline void print_load(const char* when, const char* mark = "") {
    FILE* file = fopen("/proc/loadavg", "r");
    char line[128] = "?";
    if (file) {
        if (!fgets(line, sizeof line, file)) line[0] = '\0';
        fclose(file);
    }
    printf("%sload average %s: %s", mark, when, line);
}

#endif
