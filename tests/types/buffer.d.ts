// What the declarations need of @types/node: Buffer, a Uint8Array.
declare class Buffer extends Uint8Array {}
