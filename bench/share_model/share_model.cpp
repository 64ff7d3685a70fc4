// A network share for the benchmarks: a FUSE file system that forwards every call to a backing
// folder, but makes each call wait one round trip and each open file move its bytes no faster
// than one stream of the link. Calls from different threads overlap, as on a real share, and
// renames that must not replace are refused, as SMB refuses them.
//
//   share_model [--latency-ms=1] [--bandwidth-mbit=1000] [--cache-s=1] [--threads=128]
//               [--serial-us=0] [--pass-rename-flags] [--paid-release] [--no-flush] [--copy-range]
//               [--writeback] [--direct-io] [--plain-readdir] [--log=FILE]
//               BACKING MOUNTPOINT [-f] [-s] [-o ...]
//
// --cache-s is how long the kernel may keep names and attributes without asking again (an SMB
// client keeps them about a second). The other options make it another share, or the plain
// passthrough people build from libfuse's example:
//   --threads            answer on at most that many threads (libfuse's own default is 10)
//   --serial-us          give each call that much server work, one call at a time (a server
//                        behind one lock, an interpreter's say)
//   --pass-rename-flags  let a no-replace rename through
//   --paid-release       make the release after a close a round trip too
//   --no-flush           give close no call of its own
//   --copy-range         copy on the server in one call (the bytes still at the stream's rate)
//   --writeback          let the kernel gather writes (its write-back cache)
//   --direct-io          let the kernel cache no file's bytes
//   --plain-readdir      list names without their attributes, so each is looked up
//   --log=FILE           a line per round trip: the calling thread, the kind, start and end (us)
// Defaults are the SMB-like share the earlier figures were measured on. Unmount with
// `fusermount3 -u MOUNTPOINT`; it then prints the round trips it served, by kind.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <mutex>
#include <string>

namespace {

// The calls that cost a round trip, counted per kind; getattr includes the kernel's lookups of names.
enum class Call {
    GetAttr, Access, ReadLink, OpenDir, ReadDir, MakeDir, MakeNode, Unlink, RemoveDir, SymLink, Rename, Link,
    ChangeMode, ChangeOwner, Truncate, SetTimes, Create, Open, Read, Write, StatFs, Flush, Release, Sync, Allocate,
    CopyRange, Count
};
constexpr const char *kCallNames[] = {
    "getattr", "access", "readlink", "opendir", "readdir", "mkdir", "mknod", "unlink", "rmdir", "symlink", "rename",
    "link", "chmod", "chown", "truncate", "utimens", "create", "open", "read", "write", "statfs", "flush", "release", "fsync",
    "fallocate", "copy_file_range",
};
static_assert(std::size(kCallNames) == static_cast<std::size_t>(Call::Count));

struct Settings {
    double latencyMs = 1.0;
    double bandwidthMbit = 1000.0;  // per open file; 0: unlimited
    double cacheSeconds = 1.0;
    double serialUs = 0;  // server work per call, one call at a time
    unsigned threads = 128;
    int passRenameFlags = 0;
    int paidRelease = 0;
    int noFlush = 0;
    int copyRange = 0;
    int writeback = 0;
    int directIo = 0;
    int plainReaddir = 0;
    char *logPath = nullptr;
    std::FILE *log = nullptr;
    std::mutex logLock;
    timespec mounted{};
    char *backing = nullptr;
    std::atomic<unsigned long> calls[static_cast<int>(Call::Count)]{};
};

const fuse_opt kOptions[] = {
    {"--latency-ms=%lf", offsetof(Settings, latencyMs), 0},
    {"--bandwidth-mbit=%lf", offsetof(Settings, bandwidthMbit), 0},
    {"--cache-s=%lf", offsetof(Settings, cacheSeconds), 0},
    {"--threads=%u", offsetof(Settings, threads), 0},
    {"--serial-us=%lf", offsetof(Settings, serialUs), 0},
    {"--pass-rename-flags", offsetof(Settings, passRenameFlags), 1},
    {"--paid-release", offsetof(Settings, paidRelease), 1},
    {"--no-flush", offsetof(Settings, noFlush), 1},
    {"--copy-range", offsetof(Settings, copyRange), 1},
    {"--writeback", offsetof(Settings, writeback), 1},
    {"--direct-io", offsetof(Settings, directIo), 1},
    {"--plain-readdir", offsetof(Settings, plainReaddir), 1},
    {"--log=%s", offsetof(Settings, logPath), 0},
    FUSE_OPT_END,
};

Settings &Config() { return *static_cast<Settings *>(fuse_get_context()->private_data); }

timespec Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec Plus(timespec at, double seconds) {
    const long long nanos = static_cast<long long>(seconds * 1e9);
    at.tv_sec += static_cast<time_t>(nanos / 1000000000LL);
    at.tv_nsec += static_cast<long>(nanos % 1000000000LL);
    if (at.tv_nsec >= 1000000000L) {
        at.tv_sec += 1;
        at.tv_nsec -= 1000000000L;
    }
    return at;
}

bool Before(const timespec &a, const timespec &b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

void SleepUntil(const timespec &at) {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

std::mutex serverLock;

long long MicrosSince(const timespec &from, const timespec &to) {
    return (static_cast<long long>(to.tv_sec) - from.tv_sec) * 1000000LL + (to.tv_nsec - from.tv_nsec) / 1000;
}

// One round trip. Each handler thread sleeps on its own, so calls from several threads overlap;
// with --serial-us the server then works on the call on one core, one call at a time.
void RoundTrip(Call call) {
    Settings &settings = Config();
    settings.calls[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed);
    const timespec start = Now();
    const double ms = settings.latencyMs;
    if (ms > 0) SleepUntil(Plus(start, ms / 1000.0));
    if (settings.serialUs > 0) {
        std::lock_guard<std::mutex> lock(serverLock);
        const timespec done = Plus(Now(), settings.serialUs / 1e6);
        while (Before(Now(), done)) {
        }
    }
    if (settings.log != nullptr) {
        // The calling thread's id tells the benchmark which of a program's threads waited.
        const timespec end = Now();
        std::lock_guard<std::mutex> lock(settings.logLock);
        std::fprintf(settings.log, "%d %s %lld %lld\n", static_cast<int>(fuse_get_context()->pid),
                     kCallNames[static_cast<int>(call)], MicrosSince(settings.mounted, start),
                     MicrosSince(settings.mounted, end));
    }
}

// An open file: one stream, whose transfers queue behind each other at the link's rate while
// their round trips overlap (read-ahead sends several reads at once).
struct Stream {
    int fd;
    std::mutex mutex;
    timespec busyUntil{};
};

Stream *StreamOf(fuse_file_info *fi) { return reinterpret_cast<Stream *>(static_cast<uintptr_t>(fi->fh)); }

void Transfer(Stream &stream, std::size_t bytes) {
    const double mbit = Config().bandwidthMbit;
    if (mbit <= 0 || bytes == 0) return;
    timespec done{};
    {
        std::lock_guard<std::mutex> lock(stream.mutex);
        const timespec now = Now();
        const timespec start = Before(now, stream.busyUntil) ? stream.busyUntil : now;
        done = Plus(start, static_cast<double>(bytes) * 8.0 / (mbit * 1e6));
        stream.busyUntil = done;
    }
    SleepUntil(done);
}

std::string Backing(const char *path) { return std::string(Config().backing) + path; }

int Result(int rc) { return rc == -1 ? -errno : 0; }

void *Init(fuse_conn_info *conn, fuse_config *config) {
    Settings &settings = Config();
    config->use_ino = 1;
    config->nullpath_ok = 1;
    // Files removed while open go at once, as on a share, instead of becoming hidden leftovers.
    config->hard_remove = 1;
    config->entry_timeout = settings.cacheSeconds;
    config->attr_timeout = settings.cacheSeconds;
    // A missing name is asked for every time: an SMB open of a missing file is a round trip.
    config->negative_timeout = 0;
    // Every write is a call to the server, as on a share without a write lease, unless asked.
    if (settings.writeback != 0 && (conn->capable & FUSE_CAP_WRITEBACK_CACHE) != 0)
        conn->want |= FUSE_CAP_WRITEBACK_CACHE;
    else
        conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;
    // Reads of up to 1 MiB, the size of an SMB read.
    conn->max_readahead = 1u << 20;
    settings.mounted = Now();
    if (settings.logPath != nullptr && (settings.log = std::fopen(settings.logPath, "w")) == nullptr)
        std::perror(settings.logPath);
    return &settings;
}

// At unmount: how many round trips of each kind the mount served, for the benchmark to divide.
void Destroy(void *data) {
    auto &settings = *static_cast<Settings *>(data);
    unsigned long total = 0;
    std::string line = "round trips:";
    for (int i = 0; i < static_cast<int>(Call::Count); ++i) {
        const unsigned long n = settings.calls[i].load();
        total += n;
        if (n > 0) line += std::string(" ") + kCallNames[i] + " " + std::to_string(n) + ",";
    }
    std::fprintf(stderr, "%s total %lu\n", line.c_str(), total);
    if (settings.log != nullptr) std::fclose(settings.log);
}

int GetAttr(const char *path, struct stat *st, fuse_file_info *fi) {
    RoundTrip(Call::GetAttr);
    if (fi != nullptr) return Result(fstat(StreamOf(fi)->fd, st));
    return Result(lstat(Backing(path).c_str(), st));
}

int Access(const char *path, int mask) {
    RoundTrip(Call::Access);
    return Result(access(Backing(path).c_str(), mask));
}

int ReadLink(const char *path, char *buffer, size_t size) {
    RoundTrip(Call::ReadLink);
    const ssize_t n = readlink(Backing(path).c_str(), buffer, size - 1);
    if (n == -1) return -errno;
    buffer[n] = '\0';
    return 0;
}

int OpenDir(const char *path, fuse_file_info *fi) {
    RoundTrip(Call::OpenDir);
    DIR *dir = opendir(Backing(path).c_str());
    if (dir == nullptr) return -errno;
    fi->fh = reinterpret_cast<uintptr_t>(dir);
    return 0;
}

// The whole folder in one answer with every entry's attributes, as an SMB directory query gives.
int ReadDir(const char *, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *fi, fuse_readdir_flags) {
    RoundTrip(Call::ReadDir);
    DIR *dir = reinterpret_cast<DIR *>(static_cast<uintptr_t>(fi->fh));
    rewinddir(dir);
    const int folder = dirfd(dir);
    while (dirent *entry = readdir(dir)) {
        struct stat st {};
        if (fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            st.st_ino = entry->d_ino;
            st.st_mode = static_cast<mode_t>(entry->d_type) << 12;
        }
        const auto plus = Config().plainReaddir != 0 ? fuse_fill_dir_flags{} : FUSE_FILL_DIR_PLUS;
        if (fill(buffer, entry->d_name, &st, 0, plus) != 0) break;
    }
    return 0;
}

int ReleaseDir(const char *, fuse_file_info *fi) {
    closedir(reinterpret_cast<DIR *>(static_cast<uintptr_t>(fi->fh)));
    return 0;
}

int MakeDir(const char *path, mode_t mode) {
    RoundTrip(Call::MakeDir);
    return Result(mkdir(Backing(path).c_str(), mode));
}

int MakeNode(const char *path, mode_t mode, dev_t dev) {
    RoundTrip(Call::MakeNode);
    return Result(mknod(Backing(path).c_str(), mode, dev));
}

int Unlink(const char *path) {
    RoundTrip(Call::Unlink);
    return Result(unlink(Backing(path).c_str()));
}

int RemoveDir(const char *path) {
    RoundTrip(Call::RemoveDir);
    return Result(rmdir(Backing(path).c_str()));
}

int SymLink(const char *target, const char *path) {
    RoundTrip(Call::SymLink);
    return Result(symlink(target, Backing(path).c_str()));
}

int Rename(const char *from, const char *to, unsigned int flags) {
    RoundTrip(Call::Rename);
    // SMB has no rename that fails on an existing target, nor an exchange: the client refuses both.
    if (flags != 0 && Config().passRenameFlags == 0) return -EINVAL;
    return Result(renameat2(AT_FDCWD, Backing(from).c_str(), AT_FDCWD, Backing(to).c_str(), flags));
}

int Link(const char *from, const char *to) {
    RoundTrip(Call::Link);
    return Result(link(Backing(from).c_str(), Backing(to).c_str()));
}

int ChangeMode(const char *path, mode_t mode, fuse_file_info *fi) {
    RoundTrip(Call::ChangeMode);
    if (fi != nullptr) return Result(fchmod(StreamOf(fi)->fd, mode));
    return Result(chmod(Backing(path).c_str(), mode));
}

int ChangeOwner(const char *path, uid_t uid, gid_t gid, fuse_file_info *fi) {
    RoundTrip(Call::ChangeOwner);
    if (fi != nullptr) return Result(fchown(StreamOf(fi)->fd, uid, gid));
    return Result(lchown(Backing(path).c_str(), uid, gid));
}

int Truncate(const char *path, off_t size, fuse_file_info *fi) {
    RoundTrip(Call::Truncate);
    if (fi != nullptr) return Result(ftruncate(StreamOf(fi)->fd, size));
    return Result(truncate(Backing(path).c_str(), size));
}

int SetTimes(const char *path, const timespec times[2], fuse_file_info *fi) {
    RoundTrip(Call::SetTimes);
    if (fi != nullptr) return Result(futimens(StreamOf(fi)->fd, times));
    return Result(utimensat(AT_FDCWD, Backing(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int Keep(int fd, fuse_file_info *fi) {
    if (fd == -1) return -errno;
    fi->direct_io = Config().directIo != 0 ? 1 : 0;
    fi->fh = reinterpret_cast<uintptr_t>(new Stream{fd, {}, {}});
    return 0;
}

int Create(const char *path, mode_t mode, fuse_file_info *fi) {
    RoundTrip(Call::Create);
    return Keep(open(Backing(path).c_str(), fi->flags, mode), fi);
}

int Open(const char *path, fuse_file_info *fi) {
    RoundTrip(Call::Open);
    return Keep(open(Backing(path).c_str(), fi->flags), fi);
}

int Read(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *fi) {
    RoundTrip(Call::Read);
    Stream &stream = *StreamOf(fi);
    const ssize_t n = pread(stream.fd, buffer, size, offset);
    if (n == -1) return -errno;
    Transfer(stream, static_cast<std::size_t>(n));
    return static_cast<int>(n);
}

int Write(const char *, const char *buffer, size_t size, off_t offset, fuse_file_info *fi) {
    RoundTrip(Call::Write);
    Stream &stream = *StreamOf(fi);
    Transfer(stream, size);
    const ssize_t n = pwrite(stream.fd, buffer, size, offset);
    return n == -1 ? -errno : static_cast<int>(n);
}

int StatFs(const char *path, struct statvfs *st) {
    RoundTrip(Call::StatFs);
    return Result(statvfs(Backing(path).c_str(), st));
}

// close(2): the client's close is the round trip; the release that follows is not waited for
// by the closing thread, but with --paid-release it holds a handler thread for one.
int Flush(const char *, fuse_file_info *) {
    RoundTrip(Call::Flush);
    return 0;
}

int Release(const char *, fuse_file_info *fi) {
    if (Config().paidRelease != 0) RoundTrip(Call::Release);
    Stream *stream = StreamOf(fi);
    close(stream->fd);
    delete stream;
    return 0;
}

int Sync(const char *, int dataOnly, fuse_file_info *fi) {
    RoundTrip(Call::Sync);
    const int fd = StreamOf(fi)->fd;
    return Result(dataOnly != 0 ? fdatasync(fd) : fsync(fd));
}

int Allocate(const char *, int mode, off_t offset, off_t length, fuse_file_info *fi) {
    RoundTrip(Call::Allocate);
    if (mode != 0) return -EOPNOTSUPP;
    return -posix_fallocate(StreamOf(fi)->fd, offset, length);
}

// The server copies between two of its files in one call; the bytes still go at the rate of the
// stream written.
ssize_t CopyRange(const char *, fuse_file_info *fiIn, off_t offsetIn, const char *, fuse_file_info *fiOut,
                  off_t offsetOut, size_t size, int) {
    RoundTrip(Call::CopyRange);
    Stream &out = *StreamOf(fiOut);
    const ssize_t n = copy_file_range(StreamOf(fiIn)->fd, &offsetIn, out.fd, &offsetOut, size, 0);
    if (n == -1) return -errno;
    Transfer(out, static_cast<std::size_t>(n));
    return n;
}

fuse_operations Operations(const Settings &settings) {
    fuse_operations ops{};
    ops.init = Init;
    ops.destroy = Destroy;
    ops.getattr = GetAttr;
    ops.access = Access;
    ops.readlink = ReadLink;
    ops.opendir = OpenDir;
    ops.readdir = ReadDir;
    ops.releasedir = ReleaseDir;
    ops.mkdir = MakeDir;
    ops.mknod = MakeNode;
    ops.unlink = Unlink;
    ops.rmdir = RemoveDir;
    ops.symlink = SymLink;
    ops.rename = Rename;
    ops.link = Link;
    ops.chmod = ChangeMode;
    ops.chown = ChangeOwner;
    ops.truncate = Truncate;
    ops.utimens = SetTimes;
    ops.create = Create;
    ops.open = Open;
    ops.read = Read;
    ops.write = Write;
    ops.statfs = StatFs;
    if (settings.noFlush == 0) ops.flush = Flush;
    ops.release = Release;
    ops.fsync = Sync;
    ops.fallocate = Allocate;
    // By default no copy_file_range: no server-side copy, so every byte crosses the link.
    if (settings.copyRange != 0) ops.copy_file_range = CopyRange;
    return ops;
}

int TakeBacking(void *data, const char *arg, int key, fuse_args *) {
    auto *settings = static_cast<Settings *>(data);
    if (key == FUSE_OPT_KEY_NONOPT && settings->backing == nullptr) {
        settings->backing = realpath(arg, nullptr);
        if (settings->backing == nullptr) {
            std::perror(arg);
            std::exit(2);
        }
        return 0;
    }
    return 1;
}

}  // namespace

int main(int argc, char *argv[]) {
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    Settings settings;
    if (fuse_opt_parse(&args, &settings, kOptions, TakeBacking) != 0) return 2;
    if (settings.backing == nullptr) {
        std::fprintf(stderr,
                     "usage: share_model [--latency-ms=MS] [--bandwidth-mbit=N] [--cache-s=S] [--threads=N] "
                     "[--serial-us=US] [--pass-rename-flags] [--paid-release] [--no-flush] [--copy-range] "
                     "[--writeback] [--direct-io] [--plain-readdir] [--log=FILE] BACKING MOUNTPOINT [-f] [-s] "
                     "[-o OPTIONS]\n");
        return 2;
    }
    // By default enough handler threads for every copy a benchmark runs at once (libfuse's default is 10).
    const std::string threads = std::to_string(settings.threads);
    fuse_opt_add_arg(&args, ("-omax_threads=" + threads + ",max_idle_threads=" + threads +
                             ",fsname=share_model,subtype=share_model")
                                .c_str());
    const fuse_operations ops = Operations(settings);
    const int rc = fuse_main(args.argc, args.argv, &ops, &settings);
    fuse_opt_free_args(&args);
    std::free(settings.backing);
    std::free(settings.logPath);
    return rc;
}
