// The glue between the agent's checkpoint records and their stored bytes: the encoders
// (tessel_gpb_*_encode, declared with the records in tessel_chkpt.h) fill the record's message
// and pack it; the decoders below unpack stored bytes, check them and copy them into a record.
// Stored bytes are never trusted: a required field that is absent, or a byte string of the wrong
// length, refuses the record; absent optional fields take fixed defaults.
//
// Results: 0; PTP_ZERR2_GPB_DECODE (not a valid encoding, or no memory while unpacking);
// PTP_ZERR2_GPB_ELEMENT_MISSING; PTP_ZERR2_GPB_ELEMENT_SIZE; ENOMEM (the decoded interface record
// could not be allocated). On failure the caller's record is left as it was.
//
// Protocol thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_chkpt.h"
#include "zerrno.h"
#include "zidl_tessel_gpb.h"

// A new interface record, one block sized to its address lists, in *out (the caller frees it
// with tessel_free). With secondary set the ether information is not taken: the record keeps
// its flag, bytes and length 0.
zerrno tessel_gpb_if_unserialize(const uint8_t *bytes, size_t length, uint32_t secondary, tessel_chkpt_if_type **out);
zerrno tessel_gpb_gl_unserialize(const uint8_t *bytes, size_t length, tessel_chkpt_gl_type *out);
zerrno tessel_gpb_unicast_grant_unserialize(const uint8_t *bytes, size_t length, tessel_chkpt_unicast_grant_type *out);
zerrno tessel_gpb_peer_index_unserialize(const uint8_t *bytes, size_t length, tessel_chkpt_peer_index_type *out);

// Copy one checked sub-message.
void tessel_gpb_address_unserialize(const zidl_tessel_gpb_address *in, ptp_address_type *out);
void tessel_gpb_clock_unserialize(const zidl_tessel_gpb_clock *in, ptp_clock_type *out);

// The allocator handed to every unpack: one zero-filled block of size bytes (context unused).
// Blocks are returned with the standard free.
void *ptp_gpb_calloc(size_t size, void *context);
