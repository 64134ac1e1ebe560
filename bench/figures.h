#pragma once

// Each prints its figures, one per line; none asserts anything.
void LogLineFigures();
void UdpFloodFigures();
void TcpFloodFigures();
void StartUpFigures();
void ConversionFigures();
void RulesFigures();
// peertest-cli's send, run and serve beside bare anchors.
void CliFigures();
// peertest-cli replay of a UDP flood beside tcpreplay.
void ReplayFigures();
