#include "ptp_address.h"

#include <cstring>

#include "ptp_wire.h"
#include "ptp_zerr_codes.h"

size_t ptp_address_len(uint32_t encap)
{
    switch (encap) {
    case PTP_ENCAP_ETHERNET: return PTP_MAC_ADDR_LEN;
    case PTP_ENCAP_IPV4: return PTP_IPV4_ADDR_LEN;
    default: return PTP_ADDRESS_VALUE_LEN;
    }
}

int ptp_address_compare(const ptp_address_type *a, const ptp_address_type *b)
{
    if (a->encap != b->encap)
        return a->encap < b->encap ? -1 : 1;
    return memcmp(a->value, b->value, ptp_address_len(a->encap));
}

int ptp_address_equal(const ptp_address_type *a, const ptp_address_type *b)
{
    if (a == nullptr || b == nullptr)
        return a == b ? 1 : 0;
    return ptp_address_compare(a, b) == 0 ? 1 : 0;
}

void ptp_address_set_mac(ptp_address_type *addr, const uint8_t mac[PTP_MAC_ADDR_LEN])
{
    memset(addr, 0, sizeof(*addr));
    addr->encap = PTP_ENCAP_ETHERNET;
    memcpy(addr->value, mac, PTP_MAC_ADDR_LEN);
}

void ptp_address_set_ipv4(ptp_address_type *addr, const uint8_t ip[PTP_IPV4_ADDR_LEN])
{
    memset(addr, 0, sizeof(*addr));
    addr->encap = PTP_ENCAP_IPV4;
    memcpy(addr->value, ip, PTP_IPV4_ADDR_LEN);
}

void ptp_address_set_ipv6(ptp_address_type *addr, const uint8_t ip[PTP_IPV6_ADDR_LEN])
{
    memset(addr, 0, sizeof(*addr));
    addr->encap = PTP_ENCAP_IPV6;
    memcpy(addr->value, ip, PTP_IPV6_ADDR_LEN);
}

void ptp_address_to_wire(const ptp_address_type *addr, uint8_t out[PTP_ADDRESS_WIRE_SIZE])
{
    memset(out, 0, PTP_ADDRESS_WIRE_SIZE);
    ptp_wire_put32(out, addr->encap);
    memcpy(out + 8, addr->value, PTP_ADDRESS_VALUE_LEN);
}

zerrno ptp_address_from_wire(const uint8_t *in, size_t len, ptp_address_type *out)
{
    if (in == nullptr || out == nullptr || len < PTP_ADDRESS_WIRE_SIZE)
        return PTP_ZERR_INVALID_ARG;
    out->encap = ptp_wire_get32(in);
    memcpy(out->value, in + 8, PTP_ADDRESS_VALUE_LEN);
    return ZERR_OK;
}
