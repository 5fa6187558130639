// The order of the hand-filled foreign-master and unicast-peer trees of the FIB tests.
#pragma once

int fib_fake_peer_compare(const void *a, const void *b, void *context);
