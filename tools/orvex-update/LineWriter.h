#pragma once
// Writes a terminal's output on a thread of its own, so that a slow terminal never holds the run
// up (a console under Wine on a Unix terminal renders each character on its own: a line takes it
// tens of milliseconds, and the run, waiting on its reports, would wait for every one). A redraw
// of the open line that is still queued gives way to the next one; every other text is written,
// in the order given.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace orvex {

class TLineWriter {
public:
    explicit TLineWriter(std::FILE* out);
    ~TLineWriter();  // once everything queued is written
    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    // The open line of out shows line from now on.
    void Draw(std::string line);
    // The open line is erased, so that another stream's text takes its place.
    void Clear();
    // The open line stays as it is and what follows starts on a line of its own.
    void EndLine();
    void Print(std::FILE* file, std::string text);
    // Returns once everything queued is written.
    void Drain();

private:
    enum class TKind { Draw, Clear, EndLine, Print };
    struct TItem {
        TKind Kind;
        std::FILE* File;
        std::string Text;
    };

    void Queue(TItem item);
    void Run();
    void Put(const TItem& item);  // on the writer's thread only, as the two below
    std::size_t FOpenLength = 0;
    bool FOpen = false;

    std::FILE* FOut;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TItem> FQueue;
    bool FWriting = false;
    bool FStopping = false;
    std::thread FThread;  // last: starts once the members above exist
};

}  // namespace orvex
