#include "batch/mpi_team.hpp"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

namespace quillan {

namespace {

// A word on the wire: the lowest failed process as (processes - number), so
// that the largest marks the lowest; its status; stop; done; seed; and the
// data fingerprint twice, as itself and inverted, so that the largest of
// each gives the largest and the smallest fingerprint.
constexpr int kWordLength = 7;

void combine_words(void* in, void* inout, int* len, MPI_Datatype*) {
    const auto* a = static_cast<const std::int64_t*>(in);
    auto* b = static_cast<std::int64_t*>(inout);
    for (int k = 0; k < *len; ++k, a += kWordLength, b += kWordLength) {
        if (a[0] > b[0]) {
            b[0] = a[0];
            b[1] = a[1];
        }
        b[2] = std::max(a[2], b[2]);
        b[3] += a[3];
        // Only the first process brings a seed; the others bring 0.
        b[4] = static_cast<std::int64_t>(static_cast<std::uint64_t>(a[4]) + static_cast<std::uint64_t>(b[4]));
        for (int i = 5; i < 7; ++i)
            b[i] = static_cast<std::int64_t>(std::max(static_cast<std::uint64_t>(a[i]), static_cast<std::uint64_t>(b[i])));
    }
}

// Waits for a non-blocking call by testing it, sleeping in between, so the
// waiting thread leaves its core to the workers.
void wait_for(MPI_Request& request) {
    auto pause = std::chrono::microseconds(20);
    for (;;) {
        int done = 0;
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (done) return;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
}

}  // namespace

MpiTeam::MpiTeam(MPI_Comm comm) {
    MPI_Comm_dup(comm, &comm_);
    MPI_Comm_rank(comm_, &rank_);
    MPI_Comm_size(comm_, &size_);
    MPI_Type_contiguous(kWordLength, MPI_INT64_T, &word_type_);
    MPI_Type_commit(&word_type_);
    MPI_Op_create(&combine_words, 1, &combine_);
}

MpiTeam::~MpiTeam() {
    MPI_Op_free(&combine_);
    MPI_Type_free(&word_type_);
    MPI_Comm_free(&comm_);
}

TeamAnswer MpiTeam::meet(const TeamWord& word) {
    if (over_) return last_;
    std::int64_t w[kWordLength] = {word.status != 0 ? size_ - rank_ : 0,
                                   word.status,
                                   word.stop ? 1 : 0,
                                   word.done,
                                   static_cast<std::int64_t>(rank_ == 0 ? word.seed : 0),
                                   static_cast<std::int64_t>(word.data),
                                   static_cast<std::int64_t>(~word.data)};
    MPI_Request request;
    MPI_Iallreduce(MPI_IN_PLACE, w, 1, word_type_, combine_, comm_, &request);
    wait_for(request);
    TeamAnswer answer;
    answer.failed_rank = w[0] > 0 ? size_ - static_cast<int>(w[0]) : -1;
    answer.status = w[0] > 0 ? static_cast<int>(w[1]) : 0;
    answer.stop = w[2] != 0;
    answer.done = w[3];
    answer.seed = static_cast<std::uint64_t>(w[4]);
    answer.same_data = static_cast<std::uint64_t>(w[5]) == ~static_cast<std::uint64_t>(w[6]);
    if (answer.over()) {
        over_ = true;
        last_ = answer;
    }
    return answer;
}

void MpiTeam::sum(std::vector<long long>& values) {
    MPI_Request request;
    MPI_Iallreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()), MPI_LONG_LONG, MPI_SUM, comm_, &request);
    wait_for(request);
}

void MpiTeam::share_rows(std::vector<double>& values, const std::vector<long long>& starts, int width) {
    // Each process's rows from it to all, in pieces a count of type int can hold.
    constexpr long long kPiece = 1LL << 26;
    for (int r = 0; r < size_; ++r) {
        long long from = starts[static_cast<std::size_t>(r)] * width;
        const long long to = starts[static_cast<std::size_t>(r) + 1] * width;
        while (from < to) {
            const long long n = std::min(kPiece, to - from);
            MPI_Request request;
            MPI_Ibcast(values.data() + from, static_cast<int>(n), MPI_DOUBLE, r, comm_, &request);
            wait_for(request);
            from += n;
        }
    }
}

int MpiTeam::processes_here() const {
    MPI_Comm here;
    MPI_Comm_split_type(comm_, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &here);
    int n = 1;
    MPI_Comm_size(here, &n);
    MPI_Comm_free(&here);
    return n;
}

int threads_per_process(int processes_here) {
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int mine = CPU_COUNT(&set);
        if (mine > 0 && mine < cores) return mine;
    }
    return std::max(1, cores / std::max(1, processes_here));
}

}  // namespace quillan
