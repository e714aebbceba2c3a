// Tunnel and tunnel-list bookkeeping: membership both ways, forgotten on destruction.
#include "ssh/SshTunnels.h"

#include "ssh/SshClient.h"
#include "ssh/SshConnection.h"

#include <algorithm>

namespace Varnello::Ssh {

TNvCustomSSHTunnel::~TNvCustomSSHTunnel() {
    if (FTunnelList) FTunnelList->Remove(this);
    // The client owns the connection objects; it frees the ones of this tunnel.
    while (!FConnections.empty()) {
        TNvSSHTunnelConnection* c = FConnections.front();
        if (c->FLayer) {
            c->FLayer->ForgetTunnel(this);
        } else {
            // A protocol 1 connection (or one already detached) keeps no way back to this tunnel.
            c->Tunnel = nullptr;
            FConnections.erase(FConnections.begin());
        }
    }
}

void TNvCustomSSHTunnel::SetTunnelList(TNvSSHTunnelList* list) {
    if (list == FTunnelList) return;
    if (FTunnelList) FTunnelList->Remove(this);
    if (list) list->Add(this);
}

TNvSSHTunnelList::~TNvSSHTunnelList() {
    for (TNvCustomSSHTunnel* t : FTunnels) t->FTunnelList = nullptr;
    FTunnels.clear();
    if (SSHClient) SSHClient->SetTunnelList(nullptr);
}

int TNvSSHTunnelList::Add(TNvCustomSSHTunnel* tunnel) {
    if (!tunnel || std::find(FTunnels.begin(), FTunnels.end(), tunnel) != FTunnels.end()) return -1;
    if (tunnel->FTunnelList) tunnel->FTunnelList->Remove(tunnel);
    tunnel->FTunnelList = this;
    FTunnels.push_back(tunnel);
    return int(FTunnels.size()) - 1;
}

void TNvSSHTunnelList::Remove(TNvCustomSSHTunnel* tunnel) {
    auto it = std::find(FTunnels.begin(), FTunnels.end(), tunnel);
    if (it == FTunnels.end()) return;
    FTunnels.erase(it);
    if (tunnel->FTunnelList == this) tunnel->FTunnelList = nullptr;
}

TNvCustomSSHTunnel* TNvSSHTunnelList::Tunnels(int index) const {
    if (index < 0 || index >= int(FTunnels.size())) return nullptr;
    return FTunnels[size_t(index)];
}

} // namespace Varnello::Ssh
