#include "record/isolated_read.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include "base/error.hpp"
#include "base/format.hpp"
#include "record/channel_selection.hpp"

namespace quorel {

namespace {

// The child's answer: a kind byte, then the records or the message.
enum : uint8_t { answer_records = 1, answer_refusal = 2 };

void put_u64(std::string& out, uint64_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
void put_f64(std::string& out, double v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
void put_text(std::string& out, const std::string& text) {
    put_u64(out, text.size());
    out += text;
}

std::string encoded(const std::vector<ChannelRecord>& records) {
    std::string out(1, static_cast<char>(answer_records));
    put_u64(out, records.size());
    for (const ChannelRecord& r : records) {
        put_text(out, r.name);
        put_text(out, r.channel);
        put_text(out, r.record.file);
        put_text(out, r.full_scale);
        out += static_cast<char>(r.format);
        put_f64(out, r.record.sample_rate);
        put_f64(out, r.record.start_time);
        put_u64(out, r.record.samples.size());
        out.append(reinterpret_cast<const char*>(r.record.samples.data()), r.record.samples.size() * sizeof(double));
    }
    return out;
}

// Reads what encoded() wrote; false when the bytes end early.
class Decoder {
public:
    explicit Decoder(const std::string& bytes) : bytes_(bytes) {}
    bool take(void* out, size_t n) {
        if (bytes_.size() - at_ < n) return false;
        std::memcpy(out, bytes_.data() + at_, n);
        at_ += n;
        return true;
    }
    bool u64(uint64_t& v) { return take(&v, sizeof v); }
    bool f64(double& v) { return take(&v, sizeof v); }
    bool text(std::string& t) {
        uint64_t n = 0;
        if (!u64(n) || bytes_.size() - at_ < n) return false;
        t.assign(bytes_, at_, n);
        at_ += n;
        return true;
    }
    bool done() const { return at_ == bytes_.size(); }

private:
    const std::string& bytes_;
    size_t at_ = 0;
};

bool decoded(const std::string& bytes, std::vector<ChannelRecord>& records) {
    Decoder in(bytes);
    uint8_t kind = 0;
    uint64_t count = 0;
    if (!in.take(&kind, 1) || kind != answer_records || !in.u64(count)) return false;
    for (uint64_t i = 0; i < count; ++i) {
        ChannelRecord r;
        uint8_t format = 0;
        uint64_t n = 0;
        if (!in.text(r.name) || !in.text(r.channel) || !in.text(r.record.file) || !in.text(r.full_scale) ||
            !in.take(&format, 1) || !in.f64(r.record.sample_rate) || !in.f64(r.record.start_time) || !in.u64(n) ||
            n > bytes.size() / sizeof(double)) {
            return false;
        }
        r.format = static_cast<RecordFormat>(format);
        r.record.samples.resize(n);
        if (!in.take(r.record.samples.data(), n * sizeof(double))) return false;
        records.push_back(std::move(r));
    }
    return in.done();
}

void write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// A sanitizer's hook, present only in a sanitized build: what runs when the
// sanitizer ends the process after its report.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

void die_quietly() {}

// The child's own ending on a crash of the library: the default action of
// each crash signal (the parent sees the signal and refuses the file), not
// whatever handlers the parent process installed, and under a sanitizer no
// callback of the parent's (a fuzzer's records this input as its own crash).
void crash_as_a_child() {
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) std::signal(signal, SIG_DFL);
    if (__sanitizer_set_death_callback != nullptr) __sanitizer_set_death_callback(die_quietly);
}

}  // namespace

std::vector<ChannelRecord> read_isolated(const std::string& file, const char* library,
                                         const std::function<std::vector<ChannelRecord>()>& read) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) refuse_record(file, format("cannot be read: %s", std::strerror(errno)));
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        refuse_record(file, format("cannot be read: %s", std::strerror(errno)));
    }
    if (child == 0) {
        // The child: read, answer, and leave without running anything of the
        // parent's at exit (no stream flushed twice, no handler run).
        ::close(fds[0]);
        crash_as_a_child();
        std::string answer;
        try {
            answer = encoded(read());
        } catch (const QuorelError& error) {
            answer = std::string(1, static_cast<char>(answer_refusal)) + error.what();
        } catch (...) {
            ::_exit(3);
        }
        write_all(fds[1], answer);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::vector<ChannelRecord> records;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (!bytes.empty() && bytes[0] == static_cast<char>(answer_refusal)) throw QuorelError(bytes.substr(1));
        if (decoded(bytes, records)) return records;
    }
    if (WIFSIGNALED(status)) {
        refuse_record(file, format("cannot be read: %s failed on it (signal %d, %s): it is damaged", library,
                                   WTERMSIG(status), strsignal(WTERMSIG(status))));
    }
    refuse_record(file, format("cannot be read: %s failed on it: it is damaged", library));
}

}  // namespace quorel
