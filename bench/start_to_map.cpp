// Start-up time as the X server sees it: from starting a program to the moment its
// 100 x 100 window is mapped on the screen (found by the program's _NET_WM_PID).
// Runs each program RUNS times, one after another, and prints the median, the
// fastest and the slowest. Needs a display with a window manager (scripts/with-x11).
// Usage: start_to_map RUNS name=command [name=command ...]
// The programs run in the current folder.
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <class T>
std::unique_ptr<T, decltype(&std::free)> reply(T *raw)
{
    return {raw, &std::free};
}

class Display {
public:
    Display() : connection_(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(connection_)) {
            std::fprintf(stderr, "start_to_map: no X display\n");
            std::exit(2);
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        const char name[] = "_NET_WM_PID";
        auto atom = reply(xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr));
        wmPid_ = atom ? atom->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        xcb_flush(connection_);
    }
    ~Display() { xcb_disconnect(connection_); }

    // Waits for the window of this process to be mapped; false after the time limit.
    bool waitForWindowOf(pid_t pid, std::chrono::milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&fd, 1, 5);
            while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
                std::free(event);
                if (mapped && holdsWindowOf(window, pid))
                    return true;
            }
        }
        return false;
    }

private:
    // The window itself, or a frame the window manager put around it.
    bool holdsWindowOf(xcb_window_t window, pid_t pid)
    {
        if (isWindowOf(window, pid))
            return true;
        auto tree = reply(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        if (!tree)
            return false;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
            if (isWindowOf(children[i], pid))
                return true;
        return false;
    }

    bool isWindowOf(xcb_window_t window, pid_t pid)
    {
        auto property = reply(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, wmPid_, XCB_ATOM_CARDINAL, 0, 1), nullptr));
        if (!property || xcb_get_property_value_length(property.get()) != 4
            || *static_cast<const std::uint32_t *>(xcb_get_property_value(property.get())) != std::uint32_t(pid))
            return false;
        auto geometry = reply(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
        return geometry && geometry->width == 100 && geometry->height == 100;
    }

    xcb_connection_t *connection_;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t wmPid_ = XCB_ATOM_NONE;
};

pid_t start(const std::string &command)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::vector<std::string> words;
        std::istringstream split(command);
        for (std::string word; split >> word;)
            words.push_back(word);
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS name=command ...\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    Display display;
    std::printf("%-12s %10s %10s %10s  (ms from start to mapped window, %d runs)\n", "program", "median", "fastest",
                "slowest", runs);
    for (int i = 2; i < argc; ++i) {
        const std::string entry = argv[i];
        const std::string name = entry.substr(0, entry.find('='));
        const std::string command = entry.substr(entry.find('=') + 1);
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            const auto started = Clock::now();
            const pid_t pid = start(command);
            if (display.waitForWindowOf(pid, std::chrono::seconds(10)))
                times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
            stop(pid);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (times.empty()) {
            std::printf("%-12s %10s\n", name.c_str(), "no window");
            continue;
        }
        std::sort(times.begin(), times.end());
        const std::size_t n = times.size();
        const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
        std::printf("%-12s %10.1f %10.1f %10.1f%s\n", name.c_str(), median, times.front(), times.back(),
                    n < std::size_t(runs) ? "  (some runs showed no window)" : "");
    }
    return 0;
}
