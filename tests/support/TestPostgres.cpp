#include "support/TestPostgres.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <glob.h>
#include <netinet/in.h>
#include <pwd.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <libpq-fe.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* ServerUser = "postgres";

// The newest server's program directory, or empty.
std::string ServerBin() {
    glob_t found{};
    std::string bin;
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0) {
        std::vector<std::string> paths(found.gl_pathv, found.gl_pathv + found.gl_pathc);
        std::sort(paths.begin(), paths.end(), [](const std::string& A, const std::string& B) {
            return A.size() != B.size() ? A.size() < B.size() : A < B; // "9" before "15"
        });
        bin = fs::path(paths.back()).parent_path().string() + "/";
    }
    ::globfree(&found);
    return bin;
}

bool RunsAsRoot() {
    return ::geteuid() == 0;
}

// A port below the ephemeral range that nothing holds on 127.0.0.1 now.
int FreePort() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = std::uniform_int_distribution<int>(20000, 32000)(random);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    throw std::runtime_error("no free port for PostgreSQL");
}

std::string FileText(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The parent process id in /proc/APid/stat, or -1.
int ParentOf(int APid) {
    const std::string stat = FileText("/proc/" + std::to_string(APid) + "/stat");
    const std::size_t end = stat.rfind(')'); // the name may hold blanks and parentheses
    int parent = -1;
    char state = 0;
    if (end == std::string::npos ||
        std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &parent) != 2)
        return -1;
    return parent;
}

} // namespace

std::string TTestPostgres::MissingReason() {
    if (ServerBin().empty())
        return "PostgreSQL's server programs (/usr/lib/postgresql/*/bin, Debian package "
               "postgresql) are missing";
    if (RunsAsRoot() && (!::getpwnam(ServerUser) || !fs::exists("/usr/sbin/runuser")))
        return "running as root, but there is no user \"postgres\" or no runuser to run the "
               "server as";
    return {};
}

TTestPostgres::TTestPostgres() : FBin(ServerBin()), FPort(FreePort()) {
    if (FBin.empty())
        throw std::runtime_error(MissingReason());
    FDir = FTemp.Path() + "pg";
    fs::create_directory(FDir);
    if (RunsAsRoot()) {
        const passwd* user = ::getpwnam(ServerUser);
        if (!user || ::chown(FDir.c_str(), user->pw_uid, user->pw_gid) != 0)
            throw std::runtime_error("cannot give " + FDir + " to the user postgres");
        fs::permissions(FTemp.Path(), fs::perms::others_exec | fs::perms::group_exec,
                        fs::perm_options::add);
    }
    Run({FBin + "initdb", "-D", FDir + "/data", "-A", "trust", "-U", ServerUser, "-E", "UTF8",
         "--locale=C", "-N"});
    Start();
}

TTestPostgres::~TTestPostgres() {
    try {
        if (FPaused)
            Resume();
        Run({FBin + "pg_ctl", "-D", FDir + "/data", "-w", "-t", "60", "-m", "immediate", "stop"});
    } catch (const std::exception&) {
        // already stopped
    }
}

void TTestPostgres::Run(const std::vector<std::string>& AArguments) const {
    std::vector<std::string> command;
    if (RunsAsRoot())
        command = {"/usr/sbin/runuser", "-u", ServerUser, "--"};
    command.insert(command.end(), AArguments.begin(), AArguments.end());
    const std::string log = FDir + "/commands.log";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv;
        for (std::string& argument : command)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    const auto latest = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > latest) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            throw std::runtime_error(AArguments.at(0) + " did not end within 90 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(AArguments.at(0) + " failed:\n" + FileText(log) +
                                 FileText(FDir + "/server.log"));
}

void TTestPostgres::Start() {
    Run({FBin + "pg_ctl", "-D", FDir + "/data", "-w", "-t", "60", "-l", FDir + "/server.log", "-o",
         "-p " + std::to_string(FPort) + " -k " + FDir +
             " -c listen_addresses= -c fsync=off -c full_page_writes=off",
         "start"});
}

void TTestPostgres::Stop() {
    Run({FBin + "pg_ctl", "-D", FDir + "/data", "-w", "-t", "60", "-m", "fast", "stop"});
}

std::vector<int> TTestPostgres::Processes() const {
    const int server = std::atoi(FileText(FDir + "/data/postmaster.pid").c_str());
    std::vector<int> processes;
    if (server <= 0)
        return processes;
    processes.push_back(server); // first: it would make new ones
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const int pid = std::atoi(entry.path().filename().c_str());
        if (pid > 0 && ParentOf(pid) == server)
            processes.push_back(pid);
    }
    return processes;
}

void TTestPostgres::Pause() {
    for (int pid : Processes())
        ::kill(pid, SIGSTOP);
    FPaused = true;
}

void TTestPostgres::Resume() {
    for (int pid : Processes())
        ::kill(pid, SIGCONT);
    FPaused = false;
}

std::string TTestPostgres::Connection(const std::string& ADatabase) const {
    return "host=" + FDir + " port=" + std::to_string(FPort) + " dbname=" + ADatabase +
           " user=" + ServerUser;
}

std::string TTestPostgres::MakeDatabase(const std::string& AName) {
    Query("postgres", "CREATE DATABASE " + AName);
    return Connection(AName);
}

std::vector<std::string> TTestPostgres::Query(const std::string& ADatabase,
                                              const std::string& ASql) const {
    std::unique_ptr<PGconn, void (*)(PGconn*)> connection(
        PQconnectdb(Connection(ADatabase).c_str()), &PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(connection.get()));
    std::unique_ptr<PGresult, void (*)(PGresult*)> result(PQexec(connection.get(), ASql.c_str()),
                                                          &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        throw std::runtime_error(ASql + ": " + PQresultErrorMessage(result.get()));
    std::vector<std::string> rows;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        std::string line;
        for (int column = 0; column < PQnfields(result.get()); ++column)
            line += (column > 0 ? "|" : "") + std::string(PQgetvalue(result.get(), row, column));
        rows.push_back(line);
    }
    return rows;
}

std::string TTestPostgres::Value(const std::string& ADatabase, const std::string& ASql) const {
    const std::vector<std::string> rows = Query(ADatabase, ASql);
    return rows.empty() ? std::string() : rows.front().substr(0, rows.front().find('|'));
}

TTestPostgres* SharedTestPostgres() {
    static const std::unique_ptr<TTestPostgres> server =
        TTestPostgres::MissingReason().empty() ? std::make_unique<TTestPostgres>() : nullptr;
    return server.get();
}
