// Start-up of the station to its first painted window, next to a bare Qt window's
// start-up measured the same way in the same run: the time from starting the process to
// its "first paint" line on stderr, on an X display (a private Xvfb when DISPLAY is not
// set). Each repetition is one fresh process; the medians are the figures to read.
//
//   bench_Startup [--benchmark_repetitions=N]   (default 9)
//
// Ends with one line per program, its median over the bare window's:
//   ratio start_to_first_paint_built X  (and _installed)
// QUVELOCAP_STARTUP_PLATFORM=offscreen starts every program on Qt's offscreen platform
// instead of the X display.
//
// Programs: the bare window and the station built with it; the installed station
// (/usr/bin/quvelocap, or QUVELOCAP_INSTALLED) as well when it exists. The station runs
// in demo mode with QUVELOCAP_REPORT_FIRST_PAINT=1 and its own HOME, started once before
// the timed runs so that its demo database exists, as on an operator's second day.

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Started
{
    double seconds = 0;
    double rssMiB = 0;
};

double rssMiB(pid_t pid)
{
    FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!status)
        return 0;
    char line[256];
    double kib = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %lf kB", &kib) == 1)
            break;
    std::fclose(status);
    return kib / 1024.0;
}

void endProcess(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Starts argv with env and waits for a stderr line ending in "first paint".
std::optional<Started> startToFirstPaint(const std::vector<std::string>& argv,
                                         const std::vector<std::string>& env, std::string& error)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "pipe failed";
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        error = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
        return std::nullopt;
    }

    std::string output;
    std::optional<Started> result;
    const auto deadline = t0 + std::chrono::seconds(30);
    while (!result && Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break; // the program ended without painting
        output.append(buffer, size_t(n));
        size_t end;
        while ((end = output.find('\n')) != std::string::npos) {
            const std::string line = output.substr(0, end);
            output.erase(0, end + 1);
            if (line.size() >= 11 && line.compare(line.size() - 11, 11, "first paint") == 0) {
                const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
                result = Started{seconds, rssMiB(pid)};
                break;
            }
            error = line; // the last thing it said, should it never paint
        }
    }
    close(fds[0]);
    endProcess(pid);
    if (!result && error.empty())
        error = argv[0] + std::string(" showed no first paint within 30 s");
    return result;
}

// A private X server for the run when there is no display.
class Display
{
public:
    Display()
    {
        if (const char* d = std::getenv("DISPLAY"); d && *d) {
            m_name = d;
            return;
        }
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[32] = {};
        const ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        if (n > 0)
            m_name = ":" + std::string(number, size_t(n - (number[n - 1] == '\n')));
    }
    ~Display()
    {
        if (m_pid > 0)
            endProcess(m_pid);
    }
    const std::string& name() const { return m_name; }

private:
    pid_t m_pid = -1;
    std::string m_name;
};

struct Setup
{
    Display display;
    QTemporaryDir home;

    std::vector<std::string> environment() const
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            for (const char* drop : {"DISPLAY=", "QT_QPA_PLATFORM=", "HOME=", "XDG_"})
                if (entry.rfind(drop, 0) == 0)
                    goto skip;
            env.push_back(entry);
        skip:;
        }
        const std::string h = home.path().toStdString();
        env.push_back("DISPLAY=" + display.name());
        env.push_back("HOME=" + h);
        env.push_back("XDG_CONFIG_HOME=" + h + "/config");
        env.push_back("XDG_DATA_HOME=" + h + "/data");
        env.push_back("XDG_CACHE_HOME=" + h + "/cache");
        env.push_back("XDG_RUNTIME_DIR=" + h + "/runtime");
        env.push_back("QUVELOCAP_REPORT_FIRST_PAINT=1");
        const QString platform = qEnvironmentVariable("QUVELOCAP_STARTUP_PLATFORM");
        if (!platform.isEmpty())
            env.push_back("QT_QPA_PLATFORM=" + platform.toStdString());
        return env;
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

// Every timed start of each program, in seconds.
std::map<std::string, std::vector<double>>& samples()
{
    static std::map<std::string, std::vector<double>> all;
    return all;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printRatios()
{
    const auto bare = samples().find("bare_qt_window");
    if (bare == samples().end() || bare->second.empty())
        return;
    for (const char* program : {"quvelocap_built", "quvelocap_installed"}) {
        const auto station = samples().find(program);
        if (station != samples().end() && !station->second.empty())
            std::printf("ratio start_to_first_paint_%s %.2f\n", program + 10,
                        median(station->second) / median(bare->second));
    }
}

void BM_StartToFirstPaint(benchmark::State& state, std::string name, std::vector<std::string> argv)
{
    Setup& s = setup();
    if (s.display.name().empty()) {
        state.SkipWithError("no X display and no Xvfb to start");
        return;
    }
    QDir(s.home.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(s.home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const auto env = s.environment();
    std::string error;
    // Untimed: fills the file system cache and, for the station, makes its demo database.
    if (!startToFirstPaint(argv, env, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    double rss = 0;
    for (auto _ : state) {
        const auto started = startToFirstPaint(argv, env, error);
        if (!started) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(started->seconds);
        samples()[name].push_back(started->seconds);
        rss = started->rssMiB;
    }
    state.counters["RSS_MiB"] = rss;
}

void registerProgram(const std::string& name, std::vector<std::string> argv)
{
    benchmark::RegisterBenchmark(("StartToFirstPaint/" + name).c_str(), BM_StartToFirstPaint, name,
                                 std::move(argv))
        ->Iterations(1)
        ->ReportAggregatesOnly(true)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    registerProgram("bare_qt_window", {QUVELOCAP_BENCH_BARE});
    registerProgram("quvelocap_built", {QUVELOCAP_BENCH_STATION, "--demo"});
    const char* installed = std::getenv("QUVELOCAP_INSTALLED");
    const std::string installedPath = installed && *installed ? installed : "/usr/bin/quvelocap";
    if (QFileInfo(QString::fromStdString(installedPath)).isExecutable())
        registerProgram("quvelocap_installed", {installedPath, "--demo"});
    else
        std::fprintf(stderr, "no installed station at %s: measuring the built one only\n",
                     installedPath.c_str());

    // One start is one sample: nine of them unless --benchmark_repetitions says otherwise.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=9";
    if (std::none_of(args.begin(), args.end(), [](const char* a) {
            return std::strncmp(a, "--benchmark_repetitions", 23) == 0;
        }))
        args.insert(args.begin() + 1, repetitions.data());
    argc = int(args.size());
    args.push_back(nullptr);
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    return 0;
}
