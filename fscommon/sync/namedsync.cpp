#include "sync/namedsync.h"

NamedSyncHandle::NamedSyncHandle(ImplPtr impl, bool alreadyExisted)
    : impl_(std::move(impl)), alreadyExisted_(alreadyExisted) {}

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::make(ImplPtr impl, bool alreadyExisted) {
    if (!impl)
        return nullptr;
    return std::unique_ptr<NamedSyncHandle>(new NamedSyncHandle(std::move(impl), alreadyExisted));
}
