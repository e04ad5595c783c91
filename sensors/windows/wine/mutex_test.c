/* The shared SMBus mutex as the client library takes it, under Wine: a
 * program holding "Global\Access_SMBUS.HTP.Method" delays our request until
 * it releases the mutex; a holder that exits without releasing leaves it
 * abandoned, which our request takes, reporting it once; a handle opened
 * with OMZI2C_OPEN_NO_SHARED_HOLD does not wait for the mutex at all.
 *
 *   omzi2c_mutex_test delay|abandon|opt-out
 *
 * The holder is this program started again as "hold" or "abandon-holder";
 * the two meet through named events. Prints one line per check, "FAIL: "
 * before a failed one; exit status 0 when all held. */
#include <windows.h>

#include <omzi2c/omzi2c_client.h>

#include <stdio.h>
#include <string.h>

#define MUTEX_NAME "Global\\Access_SMBUS.HTP.Method"
#define HELD_EVENT "omzi2c-mutex-test-held"
#define RELEASE_EVENT "omzi2c-mutex-test-release"

enum { kModule = 0x50, kTypeRegister = 0x02, kDdr3 = 0x0b, kStillWaitingMs = 2000 };

static int failures = 0;

static void Check(int good, const char* what) {
  printf("%s%s\n", good ? "ok: " : "FAIL: ", what);
  if (!good) ++failures;
}

/* The holder's side: takes the mutex, says so, and releases it when told
 * (hold) or exits holding it (abandon-holder). */
static int Hold(int release) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, MUTEX_NAME);
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, HELD_EVENT);
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, RELEASE_EVENT);
  if (mutex == NULL || held == NULL || go == NULL) return 2;
  if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 2;
  SetEvent(held);
  if (!release) ExitProcess(0); /* still holding it */
  WaitForSingleObject(go, INFINITE);
  ReleaseMutex(mutex);
  return 0;
}

static HANDLE StartHolder(const char* role) {
  char self[MAX_PATH];
  char line[MAX_PATH + 32];
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  GetModuleFileNameA(NULL, self, sizeof self);
  snprintf(line, sizeof line, "\"%s\" %s", self, role);
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    return NULL;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

struct Request {
  omzi2c_handle* bus;
  volatile LONG* released; /* set before the holder is told to release */
  omzi2c_status status;
  uint8_t value;
  LONG releasedWhenDone;
};

static DWORD WINAPI ReadType(LPVOID parameter) {
  struct Request* r = (struct Request*)parameter;
  r->status = omzi2c_read_byte_data(r->bus, kModule, kTypeRegister, &r->value);
  r->releasedWhenDone = *r->released;
  return 0;
}

static omzi2c_handle* OpenBus(uint32_t flags) {
  omzi2c_handle* bus = NULL;
  char why[256];
  omzi2c_status status = omzi2c_open(NULL, flags, &bus, why, sizeof why);
  if (status != OMZI2C_OK) printf("FAIL: open: %s: %s\n", omzi2c_strerror(status), why);
  return bus;
}

static void Delay(HANDLE held, HANDLE release) {
  volatile LONG released = 0;
  struct Request request;
  HANDLE holder = StartHolder("hold");
  HANDLE worker;
  memset(&request, 0, sizeof request);
  request.bus = OpenBus(0);
  request.released = &released;
  if (holder == NULL || request.bus == NULL) {
    Check(0, "delay: holder and handle");
    return;
  }
  Check(WaitForSingleObject(held, 60000) == WAIT_OBJECT_0, "delay: the holder has the mutex");
  worker = CreateThread(NULL, 0, ReadType, &request, 0, NULL);
  Check(WaitForSingleObject(worker, kStillWaitingMs) == WAIT_TIMEOUT,
        "delay: the request waits while another program holds the mutex");
  released = 1;
  SetEvent(release);
  Check(WaitForSingleObject(worker, 60000) == WAIT_OBJECT_0, "delay: the request then completes");
  Check(request.status == OMZI2C_OK && request.value == kDdr3 && request.releasedWhenDone,
        "delay: it read the module after the holder released the mutex");
  WaitForSingleObject(holder, 60000);
  omzi2c_close(request.bus);
}

static void Abandon(HANDLE held) {
  uint8_t value = 0;
  omzi2c_handle* bus = OpenBus(0);
  HANDLE holder = StartHolder("abandon-holder");
  if (holder == NULL || bus == NULL) {
    Check(0, "abandon: holder and handle");
    return;
  }
  Check(WaitForSingleObject(held, 60000) == WAIT_OBJECT_0, "abandon: the holder has the mutex");
  Check(WaitForSingleObject(holder, 60000) == WAIT_OBJECT_0, "abandon: the holder exited");
  Check(omzi2c_read_byte_data(bus, kModule, kTypeRegister, &value) == OMZI2C_OK && value == kDdr3,
        "abandon: the request takes the abandoned mutex and reads the module");
  Check(omzi2c_abandoned(bus) == 1, "abandon: reported once");
  Check(omzi2c_read_byte_data(bus, kModule, kTypeRegister, &value) == OMZI2C_OK &&
            omzi2c_abandoned(bus) == 0,
        "abandon: the next request finds it free, with nothing to report");
  omzi2c_close(bus);
}

static void OptOut(HANDLE held, HANDLE release) {
  volatile LONG released = 0;
  struct Request request;
  uint8_t value = 0;
  HANDLE holder = StartHolder("hold");
  omzi2c_handle* waiting = OpenBus(0);
  HANDLE worker;
  memset(&request, 0, sizeof request);
  request.bus = OpenBus(OMZI2C_OPEN_NO_SHARED_HOLD);
  request.released = &released;
  if (holder == NULL || waiting == NULL || request.bus == NULL) {
    Check(0, "opt-out: holder and handles");
    return;
  }
  Check(WaitForSingleObject(held, 60000) == WAIT_OBJECT_0, "opt-out: the holder has the mutex");
  worker = CreateThread(NULL, 0, ReadType, &request, 0, NULL);
  Check(WaitForSingleObject(worker, 60000) == WAIT_OBJECT_0 && request.status == OMZI2C_OK &&
            request.value == kDdr3 && !request.releasedWhenDone,
        "opt-out: the request reads the module while the mutex is held");
  omzi2c_set_wait_limit(waiting, 200);
  Check(omzi2c_read_byte_data(waiting, kModule, kTypeRegister, &value) == OMZI2C_ERROR_BUS_HELD,
        "opt-out: a handle without it gives up after its wait limit: bus held");
  released = 1;
  SetEvent(release);
  WaitForSingleObject(holder, 60000);
  omzi2c_close(request.bus);
  omzi2c_close(waiting);
}

int main(int argc, char** argv) {
  HANDLE held, release;
  if (argc == 2 && strcmp(argv[1], "hold") == 0) return Hold(1);
  if (argc == 2 && strcmp(argv[1], "abandon-holder") == 0) return Hold(0);
  if (argc != 2) {
    fprintf(stderr, "usage: omzi2c_mutex_test delay|abandon|opt-out\n");
    return 2;
  }
  held = CreateEventA(NULL, TRUE, FALSE, HELD_EVENT);
  release = CreateEventA(NULL, TRUE, FALSE, RELEASE_EVENT);
  if (strcmp(argv[1], "delay") == 0) {
    Delay(held, release);
  } else if (strcmp(argv[1], "abandon") == 0) {
    Abandon(held);
  } else if (strcmp(argv[1], "opt-out") == 0) {
    OptOut(held, release);
  } else {
    fprintf(stderr, "unknown case '%s'\n", argv[1]);
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
