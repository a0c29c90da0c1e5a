// The team of processes of quillan-batch-mpi, over an MPI communicator.
//
// Only the action's own thread talks to the other processes (the worker
// threads never do), and it waits for them by testing now and then rather
// than in a blocking call: a blocking MPI call keeps its core busy, which
// would take a core from this process's own workers.
#pragma once

#include "analyses/process_team.hpp"

#include <mpi.h>

namespace quillan {

class MpiTeam : public ProcessTeam {
public:
    // A team of every process of `comm` (which must outlive the team).
    explicit MpiTeam(MPI_Comm comm);
    ~MpiTeam() override;
    MpiTeam(const MpiTeam&) = delete;
    MpiTeam& operator=(const MpiTeam&) = delete;

    int rank() const override { return rank_; }
    int size() const override { return size_; }
    TeamAnswer meet(const TeamWord& word) override;
    bool over() const override { return over_; }
    void sum(std::vector<long long>& values) override;
    void share_rows(std::vector<double>& values, const std::vector<long long>& starts, int width) override;

    // The processes of the team running on this machine.
    int processes_here() const;

private:
    MPI_Comm comm_ = MPI_COMM_NULL;
    int rank_ = 0;
    int size_ = 1;
    MPI_Datatype word_type_ = MPI_DATATYPE_NULL;
    MPI_Op combine_ = MPI_OP_NULL;
    bool over_ = false;
    TeamAnswer last_;
};

// Worker threads for one of `processes_here` processes on this machine: the
// cores this process was bound to when it was given cores of its own (by
// mpirun or srun), otherwise an equal part of the machine's cores.
int threads_per_process(int processes_here);

}  // namespace quillan
