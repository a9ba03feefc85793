// bench/app: runs bench/app-host once per renderer host, one after the other,
// passes its own arguments on, and prints each run's lines and then their
// figures side by side. With --renderer=HOST it becomes that one run. It uses
// no Qt itself: a Qt process beside the measured one would share Qt's pages
// with it and lower the PSS it reports.

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    std::string self(argv[0]);
    const std::string host = self.substr(0, self.rfind('/') + 1) + "app-host";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--renderer", 10) == 0) {
            execv(host.c_str(), argv);
            std::perror(host.c_str());
            return 1;
        }
    }
    const std::vector<std::string> hosts{"light", "web"};
    std::map<std::string, std::map<std::string, double>> figures; // name -> host -> value
    bool complete = true;
    for (const std::string &name : hosts) {
        std::string command = "'" + host + "' --renderer=" + name;
        for (int i = 1; i < argc; ++i)
            command += std::string(" '") + argv[i] + "'";
        FILE *child = popen((command + " 2>&1").c_str(), "r");
        if (!child)
            return 1;
        int seen = 0;
        char line[4096];
        while (std::fgets(line, sizeof line, child)) {
            char key[128];
            double value = 0;
            if (std::sscanf(line, "figure %127s %lf", key, &value) == 2) {
                figures[key][name] = value;
                ++seen;
                continue;
            }
            std::printf("%s: %s", name.c_str(), line);
            std::fflush(stdout);
        }
        complete = pclose(child) == 0 && seen > 0 && complete;
    }
    std::printf("\n%-36s %10s %10s\n", "", "light", "web");
    for (auto &[key, byHost] : figures) {
        std::printf("%-36s", key.c_str());
        for (const std::string &name : hosts) {
            if (byHost.count(name))
                std::printf(" %10.1f", byHost[name]);
            else
                std::printf(" %10s", "-");
        }
        std::printf("\n");
    }
    return complete ? 0 : 1;
}
