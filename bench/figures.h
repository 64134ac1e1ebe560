#pragma once

// Each prints its figures, one per line; none asserts anything.
void LogLineFigures();
void UdpFloodFigures();
// The floor, the window and the program at 100,000 datagrams a second, alternating (part of udp).
void UdpRatioFigures();
void TcpFloodFigures();
void StartUpFigures();
void ConversionFigures();
void RulesFigures();
// peertest-cli's send, run and serve beside bare anchors.
void CliFigures();
// peertest-cli replay of a UDP flood beside tcpreplay.
void ReplayFigures();
