// The baseline: a WebSocket echo server as web developers commonly write it.
const { WebSocketServer } = require('ws');

const port = Number(process.argv[2] || 19620);
const server = new WebSocketServer({ host: '127.0.0.1', port });
server.on('connection', (socket) => {
  socket.on('message', (data, isBinary) => socket.send(data, { binary: isBinary }));
});
server.on('listening', () => console.log(`echo server on ${port}`));
