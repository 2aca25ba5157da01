// The command pool: no task waits behind a blocked one, queued tasks run before the pool goes,
// idle workers end, and a task finds a busy worker when no thread can be started. Each gate is
// made before its pool: the pool's last task may still signal it while the pool goes.
#include "browser_host/task_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Tasks that block until |count| of them have started.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  int started = 0;
  int finished = 0;

  std::function<void()> Task(int count) {
    return [this, count] {
      std::unique_lock<std::mutex> lock(m);
      ++started;
      cv.notify_all();
      cv.wait_for(lock, 20s, [&] { return started >= count; });
      ++finished;
      cv.notify_all();
    };
  }
  bool WaitFinished(int n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, 20s, [&] { return finished >= n; });
  }
};

TEST(TaskPool, BlockedTasksNeverHoldUpTheOnesBehindThem) {
  Gate gate;
  Gate again;
  TaskPool pool(10s);
  // Pushed in one go, before any worker ran: the workers hand the rest on among themselves.
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(pool.Push(gate.Task(40)));
  EXPECT_TRUE(gate.WaitFinished(40));
  // A worker still on its way back from its task is rightly not counted free: give them all
  // time to fall asleep.
  std::this_thread::sleep_for(300ms);
  // A second wave reuses the sleeping workers and again needs all of them at once.
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(pool.Push(again.Task(40)));
  EXPECT_TRUE(again.WaitFinished(40));
  EXPECT_EQ(pool.Workers(), 40u);
}

TEST(TaskPool, AStreamOfShortTasksAllRun) {
  TaskPool pool(10s);
  std::atomic<int> ran{0};
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(pool.Push([&ran] { ++ran; }));
  for (int i = 0; i < 2000 && ran < 10000; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(ran, 10000);
}

TEST(TaskPool, QueuedTasksRunBeforeThePoolGoes) {
  std::atomic<int> ran{0};
  {
    Gate gate;
    TaskPool pool(10s);
    ASSERT_TRUE(pool.Push(gate.Task(1)));
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(pool.Push([&ran] { ++ran; }));
  }
  EXPECT_EQ(ran, 100);
}

TEST(TaskPool, IdleWorkersEnd) {
  Gate gate;
  TaskPool pool(50ms);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(pool.Push(gate.Task(4)));
  ASSERT_TRUE(gate.WaitFinished(4));
  EXPECT_GE(pool.Workers(), 1u);
  for (int i = 0; i < 400 && pool.Workers() > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(pool.Workers(), 0u);
  // Work after that starts workers again.
  std::atomic<bool> ran{false};
  ASSERT_TRUE(pool.Push([&ran] { ran = true; }));
  for (int i = 0; i < 400 && !ran; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(ran);
}

TEST(TaskPool, WhatATaskHoldsIsReleasedWhenItHasRun) {
  TaskPool pool(10s);
  auto held = std::make_shared<int>(1);
  std::weak_ptr<int> watch = held;
  std::atomic<bool> ran{false};
  ASSERT_TRUE(pool.Push([held, &ran] { ran = true; }));
  held.reset();
  for (int i = 0; i < 400 && !watch.expired(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(watch.expired());
}

TEST(TaskPool, WithoutANewThreadTasksWaitForABusyWorker) {
  std::atomic<int> starts{0};
  auto onlyOne = [&starts](std::function<void()> body) {
    return ++starts == 1 && TaskPool::StartDetachedThread(std::move(body));
  };
  std::atomic<int> ran{0};
  std::promise<void> running, release;
  std::shared_future<void> released = release.get_future().share();
  {
    TaskPool pool(10s, onlyOne);
    // The one worker is held until the tasks have been queued behind it.
    ASSERT_TRUE(pool.Push([&running, released] {
      running.set_value();
      released.wait();
    }));
    running.get_future().wait();
    ASSERT_TRUE(pool.Push([&ran] { ++ran; }));
    ASSERT_TRUE(pool.Push([&ran] { ++ran; }));
    EXPECT_EQ(ran, 0);
    EXPECT_GT(starts, 1);
    release.set_value();
    for (int i = 0; i < 400 && ran < 2; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(pool.Workers(), 1u);
  }
  // With no worker at all the task is refused, and never runs.
  TaskPool none(10s, [](std::function<void()>) { return false; });
  EXPECT_FALSE(none.Push([&ran] { ++ran; }));
  EXPECT_EQ(none.Workers(), 0u);
  EXPECT_EQ(ran, 2);
}

}  // namespace
