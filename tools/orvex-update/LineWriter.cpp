#include "LineWriter.h"

#include <utility>

namespace orvex {

TLineWriter::TLineWriter(std::FILE* out) : FOut(out), FThread([this] { Run(); }) {}

TLineWriter::~TLineWriter() {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FStopping = true;
    }
    FChanged.notify_all();
    FThread.join();
}

void TLineWriter::Draw(std::string line) {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        if (!FQueue.empty() && FQueue.back().Kind == TKind::Draw) {
            FQueue.back().Text = std::move(line);
            return;
        }
    }
    Queue({TKind::Draw, FOut, std::move(line)});
}

void TLineWriter::Clear() { Queue({TKind::Clear, FOut, {}}); }
void TLineWriter::EndLine() { Queue({TKind::EndLine, FOut, {}}); }
void TLineWriter::Print(std::FILE* file, std::string text) { Queue({TKind::Print, file, std::move(text)}); }

void TLineWriter::Queue(TItem item) {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FQueue.push_back(std::move(item));
    }
    FChanged.notify_all();
}

void TLineWriter::Drain() {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return FQueue.empty() && !FWriting; });
}

void TLineWriter::Run() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FChanged.wait(lock, [this] { return !FQueue.empty() || FStopping; });
        if (FQueue.empty()) return;  // stopping, and everything is written
        const TItem item = std::move(FQueue.front());
        FQueue.pop_front();
        FWriting = true;
        lock.unlock();
        Put(item);
        lock.lock();
        FWriting = false;
        FChanged.notify_all();
    }
}

void TLineWriter::Put(const TItem& item) {
    std::string text;
    switch (item.Kind) {
        case TKind::Draw:
            // Spaces over what the longer line before showed.
            text = "\r" + item.Text;
            if (FOpen && FOpenLength > item.Text.size()) text.append(FOpenLength - item.Text.size(), ' ');
            FOpen = true;
            FOpenLength = item.Text.size();
            break;
        case TKind::Clear:
            if (FOpen) text = "\r" + std::string(FOpenLength, ' ') + "\r";
            FOpen = false;
            break;
        case TKind::EndLine:
            if (FOpen) text = "\n";
            FOpen = false;
            break;
        case TKind::Print:
            text = item.Text;
            break;
    }
    if (text.empty()) return;
    std::fputs(text.c_str(), item.File);
    std::fflush(item.File);
}

}  // namespace orvex
