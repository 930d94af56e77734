// What a child program reads as its standard input: the request body, from
// its first byte, through a handle of its own on the body's file; without
// a body (or with one that is not a file), a pipe whose writing end is
// already closed, so that the program reads the end at once.
#pragma once

#include "engine/core/message_body.h"
#include "platform/process.h"
#include "platform/scoped_handle.h"

namespace brisvane {

class ChildInput {
 public:
  // False with platform::last_error() set when neither can be made.
  bool Open(const MessageBody& body);
  // The handle to give the child as its standard input.
  platform::ChildStdio stdio() const;

 private:
  MessageBody body_;
  platform::ScopedPipe empty_;
};

}  // namespace brisvane
