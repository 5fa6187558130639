#include "bgen_args.h"

#include <cstring>

const bgen_arg_td *bgen_args_get(const bgen_args_td *args, uint32_t k, uint32_t kind)
{
    if (args == nullptr || k >= args->count || k >= BGEN_ARGS_MAX || (args->missing_mask & (1u << k)) != 0)
        return nullptr;
    const bgen_arg_td *a = &args->keys[k];
    if (a->kind != kind || (kind == BGEN_ARG_STRING && a->text == nullptr))
        return nullptr;
    return a;
}

void bgen_args_init(bgen_args_td *args, uint32_t bg_ident)
{
    memset(args, 0, sizeof(*args));
    args->bg_ident = bg_ident;
    // Every key starts absent until set.
    args->missing_mask = 0xffffffffu;
}

namespace {

bgen_arg_td *slot(bgen_args_td *args, uint32_t k)
{
    if (k >= BGEN_ARGS_MAX)
        return nullptr;
    if (args->count <= k)
        args->count = k + 1;
    args->missing_mask &= ~(1u << k);
    bgen_arg_td *a = &args->keys[k];
    memset(a, 0, sizeof(*a));
    return a;
}

} // namespace

void bgen_args_set_string(bgen_args_td *args, uint32_t k, const char *text)
{
    if (bgen_arg_td *a = slot(args, k)) {
        a->kind = BGEN_ARG_STRING;
        a->text = text;
    }
}

void bgen_args_set_uint(bgen_args_td *args, uint32_t k, uint32_t number)
{
    if (bgen_arg_td *a = slot(args, k)) {
        a->kind = BGEN_ARG_UINT;
        a->number = number;
    }
}

void bgen_args_set_ip(bgen_args_td *args, uint32_t k, uint32_t family, const uint8_t *bytes)
{
    if (bgen_arg_td *a = slot(args, k)) {
        a->kind = BGEN_ARG_IPADDR;
        a->ip_family = family;
        memcpy(a->ip, bytes, family == BGEN_IP_V4 ? 4 : 16);
    }
}
