#include "e2e/crash_drill/KillPoints.h"

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "e2e/crash_drill/DrillProtocol.h"

namespace crash_drill {
namespace {

enum class Point { none, eventRow, eventCommit, bundling, uploaded, inFlight };

Point gPoint = Point::none;
long gTarget = 0;
std::atomic<long> gSeen{0};
// Event commit: the WAL writes left before the kill, once armed (-1: not armed).
std::atomic<int> gWritesLeft{-1};
std::atomic<bool> gInFlightArmed{false};

[[noreturn]] void die() {
  ::raise(SIGKILL);
  ::_exit(137);  // not reached
}

// True on the k-th call.
bool reached() { return gSeen.fetch_add(1) + 1 == gTarget; }

// Per connection: whether its open transaction inserted a raw event.
struct Connection {
  bool insertedRawEvent = false;
};

void onRowChange(void* context, int operation, const char*, const char* table, sqlite3_int64) {
  auto* connection = static_cast<Connection*>(context);
  const bool rawEvents = std::strcmp(table, "raw_events") == 0;
  const bool queue = std::strcmp(table, "queue") == 0;
  if (rawEvents && operation == SQLITE_INSERT) {
    connection->insertedRawEvent = true;
    if (gPoint == Point::eventRow && reached()) die();
  }
  if (queue && operation == SQLITE_INSERT && gPoint == Point::bundling && reached()) die();
  if (queue && operation == SQLITE_DELETE && gPoint == Point::uploaded && reached()) die();
}

int onCommit(void* context) {
  auto* connection = static_cast<Connection*>(context);
  if (gPoint == Point::eventCommit && connection->insertedRawEvent && reached()) {
    // One of the first few writes of this commit: before its first frame,
    // between a frame's header and its page, or a few frames in.
    gWritesLeft = static_cast<int>(1 + gTarget % 6);
  }
  connection->insertedRawEvent = false;
  return 0;
}

void onRollback(void* context) { static_cast<Connection*>(context)->insertedRawEvent = false; }

int onTrace(unsigned type, void*, void* statement, void*) {
  if (type != SQLITE_TRACE_STMT || gPoint != Point::inFlight) return 0;
  const char* text = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
  // The upload reads the bundles it sends.
  if (!text || !std::strstr(text, "SELECT rowid, data, retry_count FROM queue")) return 0;
  if (!reached() || gInFlightArmed.exchange(true)) return 0;
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::duration<double>(kInFlightDelaySeconds));
    die();
  }).detach();
  return 0;
}

int watchConnection(sqlite3* db, char**, const sqlite3_api_routines*) {
  // Kept for the life of the process (connections are few), so that the
  // hooks never see one go.
  static std::mutex mutex;
  static std::vector<std::unique_ptr<Connection>> connections;
  Connection* connection;
  {
    std::lock_guard<std::mutex> lock(mutex);
    connection = connections.emplace_back(std::make_unique<Connection>()).get();
  }
  sqlite3_update_hook(db, onRowChange, connection);
  sqlite3_commit_hook(db, onCommit, connection);
  sqlite3_rollback_hook(db, onRollback, connection);
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, onTrace, nullptr);
  return SQLITE_OK;
}

// ---------------------------------------------------------------------------
// The VFS: the system's, with the writes to write-ahead logs watched.

sqlite3_vfs* gReal = nullptr;
sqlite3_vfs gShim;

struct ShimFile {
  sqlite3_file base;
  sqlite3_io_methods methods;
  bool isWal;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

ShimFile* shim(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file); }
sqlite3_file* real(sqlite3_file* file) { return shim(file)->real(); }

int shimClose(sqlite3_file* f) { return real(f)->pMethods->xClose(real(f)); }
int shimRead(sqlite3_file* f, void* p, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), p, n, o); }
int shimWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 o) {
  if (shim(f)->isWal) {
    int left = gWritesLeft.load();
    while (left > 0 && !gWritesLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) die();
  }
  return real(f)->pMethods->xWrite(real(f), p, n, o);
}
int shimTruncate(sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); }
int shimSync(sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); }
int shimFileSize(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
int shimLock(sqlite3_file* f, int lock) { return real(f)->pMethods->xLock(real(f), lock); }
int shimUnlock(sqlite3_file* f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); }
int shimCheckReservedLock(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
int shimFileControl(sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
int shimSectorSize(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int shimDeviceCharacteristics(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int shimShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int shimShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void shimShmBarrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int shimShmUnmap(sqlite3_file* f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); }
int shimFetch(sqlite3_file* f, sqlite3_int64 o, int n, void** out) {
  return real(f)->pMethods->xFetch(real(f), o, n, out);
}
int shimUnfetch(sqlite3_file* f, sqlite3_int64 o, void* p) { return real(f)->pMethods->xUnfetch(real(f), o, p); }

int shimOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  ShimFile* opened = shim(file);
  opened->base.pMethods = nullptr;
  const int result = gReal->xOpen(gReal, name, opened->real(), flags, outFlags);
  const sqlite3_io_methods* methods = opened->real()->pMethods;
  if (!methods) return result;
  opened->isWal = (flags & SQLITE_OPEN_WAL) != 0;
  // The same version as the system's file, so nothing it lacks is called.
  opened->methods = sqlite3_io_methods{methods->iVersion, shimClose, shimRead, shimWrite, shimTruncate, shimSync,
                                       shimFileSize, shimLock, shimUnlock, shimCheckReservedLock, shimFileControl,
                                       shimSectorSize, shimDeviceCharacteristics, shimShmMap, shimShmLock,
                                       shimShmBarrier, shimShmUnmap, shimFetch, shimUnfetch};
  opened->base.pMethods = &opened->methods;
  return result;
}
int shimDelete(sqlite3_vfs*, const char* name, int sync) { return gReal->xDelete(gReal, name, sync); }
int shimAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return gReal->xAccess(gReal, name, flags, out); }
int shimFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return gReal->xFullPathname(gReal, name, n, out);
}
void* shimDlOpen(sqlite3_vfs*, const char* name) { return gReal->xDlOpen(gReal, name); }
void shimDlError(sqlite3_vfs*, int n, char* out) { gReal->xDlError(gReal, n, out); }
void (*shimDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return gReal->xDlSym(gReal, handle, symbol); }
void shimDlClose(sqlite3_vfs*, void* handle) { gReal->xDlClose(gReal, handle); }
int shimRandomness(sqlite3_vfs*, int n, char* out) { return gReal->xRandomness(gReal, n, out); }
int shimSleep(sqlite3_vfs*, int micros) { return gReal->xSleep(gReal, micros); }
int shimCurrentTime(sqlite3_vfs*, double* out) { return gReal->xCurrentTime(gReal, out); }
int shimGetLastError(sqlite3_vfs*, int n, char* out) { return gReal->xGetLastError(gReal, n, out); }
int shimCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return gReal->xCurrentTimeInt64(gReal, out); }

bool installShim() {
  gReal = sqlite3_vfs_find(nullptr);
  if (!gReal || gReal->iVersion < 2) return false;
  gShim = sqlite3_vfs{};
  gShim.iVersion = 2;
  gShim.szOsFile = static_cast<int>(sizeof(ShimFile)) + gReal->szOsFile;
  gShim.mxPathname = gReal->mxPathname;
  gShim.zName = "crash-drill";
  gShim.xOpen = shimOpen;
  gShim.xDelete = shimDelete;
  gShim.xAccess = shimAccess;
  gShim.xFullPathname = shimFullPathname;
  gShim.xDlOpen = shimDlOpen;
  gShim.xDlError = shimDlError;
  gShim.xDlSym = shimDlSym;
  gShim.xDlClose = shimDlClose;
  gShim.xRandomness = shimRandomness;
  gShim.xSleep = shimSleep;
  gShim.xCurrentTime = shimCurrentTime;
  gShim.xGetLastError = shimGetLastError;
  gShim.xCurrentTimeInt64 = shimCurrentTimeInt64;
  return sqlite3_vfs_register(&gShim, 1) == SQLITE_OK;
}

}  // namespace

bool installKillPoint(const std::string& pointText) {
  if (pointText.empty() || pointText == kRandomPoint) return true;
  const size_t colon = pointText.find(':');
  const std::string name = pointText.substr(0, colon);
  gTarget = colon == std::string::npos ? 1 : std::atol(pointText.c_str() + colon + 1);
  if (name == kEventRowPoint) gPoint = Point::eventRow;
  if (name == kEventCommitPoint) gPoint = Point::eventCommit;
  if (name == kBundlingPoint) gPoint = Point::bundling;
  if (name == kUploadedPoint) gPoint = Point::uploaded;
  if (name == kInFlightPoint) gPoint = Point::inFlight;
  if (gPoint == Point::none || gTarget < 1) {
    std::fprintf(stderr, "crash_drill_driver: no kill point \"%s\"\n", pointText.c_str());
    return false;
  }
  if (sqlite3_auto_extension(reinterpret_cast<void (*)(void)>(watchConnection)) != SQLITE_OK) return false;
  return gPoint != Point::eventCommit || installShim();
}

}  // namespace crash_drill
