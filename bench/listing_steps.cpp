// SPDX-License-Identifier: GPL-3.0-or-later
// Times how long a folder's listing holds the event loop: the listing made in
// one go (as the server made it before, when the index file search also read
// the folder once for each name), against the lookup of the index names by
// name and the longest of the steps the server now makes, each on its own
// turn. A loaded machine slows both alike.
//
//   listing_steps FOLDER [index names] [rounds]

#include "platform/FolderReader.h"
#include "ListingInOneGo.h"
#include "web/FolderAnswer.h"
#include "web/IndexFile.h"
#include "web/ListingBuilder.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// The time this thread ran: what the step itself costs, whatever else the
// machine's cores were given meanwhile.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Longest
{
    double wall = 0;
    double cpu = 0;
};

// Steps as FolderAnswer makes them; returns the longest and counts them.
Longest longestStep(const QByteArray &folder, const QByteArrayList &pending, int *steps, QByteArray *page)
{
    FolderReader reader(folder);
    IndexCandidates candidates(pending);
    ListingBuilder listing("/", QLocale::system());
    Longest longest;
    for (bool done = false; !done; ++*steps) {
        QElapsedTimer t;
        t.start();
        const double cpu = cpuMs();
        if (!reader.atEnd()) {
            const QList<FileSystem::Entry> entries = reader.next(FolderAnswer::ReadStep);
            candidates.see(entries);
            listing.add(entries);
        } else {
            done = listing.write(FolderAnswer::WriteStep);
        }
        longest.wall = std::max(longest.wall, msSince(t));
        longest.cpu = std::max(longest.cpu, cpuMs() - cpu);
    }
    *page = listing.page();
    return longest;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return std::fprintf(stderr, "usage: listing_steps FOLDER [index names] [rounds]\n"), 2;
    const QByteArray folder = argv[1];
    const QByteArray index = argc > 2 ? argv[2] : "index.htm";
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    for (int round = 1; round <= rounds; ++round) {
        QElapsedTimer t;
        t.start();
        const double cpu = cpuMs();
        const QByteArray oneGo = listingInOneGo(folder, "/");
        const double before = msSince(t), beforeCpu = cpuMs() - cpu;
        t.restart();
        const IndexLookup lookup = lookUpIndexFile(folder, index);
        const double byName = msSince(t);
        int steps = 0;
        QByteArray page;
        const Longest longest = longestStep(folder, lookup.pending, &steps, &page);
        std::printf("round %d: in one go %.1f ms (CPU %.1f ms); now: lookup by name %.2f ms, %d steps, longest "
                    "%.2f ms (CPU %.2f ms); page %lld bytes (%s)\n",
                    round, before, beforeCpu, byName, steps, longest.wall, longest.cpu, (long long)page.size(),
                    page == oneGo ? "the same bytes as in one go" : "NOT THE BYTES MADE IN ONE GO");
    }
    return 0;
}
